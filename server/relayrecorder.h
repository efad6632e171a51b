#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// What the drawing relay tells the part that keeps its state durable (the
// board journal). Calls come from inside the relay's handlers, in the order
// things happen; the history reports its own changes (DrawingHistory::Observer).
class RelayRecorder {
public:
    virtual ~RelayRecorder() = default;
    // A line arrived from connection k: any line, before it is handled.
    virtual void lineArrived(int k) = 0;
    // A relayed line (with its "\r\n") was applied to the board, after the
    // history took it.
    virtual void boardApplied(QByteArrayView relayed) = 0;
    // Slot k's greeting colour or pen size changed.
    virtual void greetingPenChanged(int k, qint32 colour, qint16 size) = 0;
    // The picture changed other than by applying a line (a rebuild of the
    // board): it is kept whole soon after.
    virtual void boardReplaced() = 0;
};
