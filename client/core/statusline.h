#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class DrawingChannel;
class StatusView;

// Keeps the main window in step with the drawing socket. Timer1 (500 ms)
// writes the status text, the title suffix (" / NetWork" or " / Stand Alone")
// and enables the chat entry only while connected and log playback only while
// not. tMem (15 s) asks the server for the member count while connected; the
// answer reaches the receiver's memCount and shows at the next Timer1 tick.
// Both timers run from the main window's load to the end of the program.
class StatusLine : public QObject {
    Q_OBJECT
public:
    static constexpr int StatusInterval = 500;
    static constexpr int MemberInterval = 15000;

    StatusLine(DrawingChannel& channel, StatusView& view, QObject* parent = nullptr);

    void start();

    // Text of the status label for a socket state number (0..9, see
    // net::SocketEndpoint::State) and member count.
    static QString statusText(int state, int count);
    // Shows a socket state in the window: the status text, the title's
    // status (NetWork or Stand Alone) and the chat entry (on only while
    // connected). Set on every tick, changed or not.
    void showState(qint16 state, qint16 count);

    void timer1Timer();
    void tMemTimer();

    QTimer& Timer1() { return m_timer1; }
    QTimer& tMem() { return m_tMem; }

private:
    DrawingChannel& m_channel;
    StatusView& m_view;
    QTimer m_timer1;
    QTimer m_tMem;
};
