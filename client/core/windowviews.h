#pragma once

#include <QtGlobal>

class QString;
class QWidget;

// What the client's logic may ask of the main window. Each collaborator gets
// the one view it needs instead of the window with all its controls; the main
// window (client/window) implements them all, and tells the logic what the
// person did through its signals. The views speak in intents ("show the
// connection as up"), never in controls.

// The connection control: the network menu's state and the title.
class ConnectionView {
public:
    virtual ~ConnectionView() = default;
    virtual QWidget* dialogParent() = 0;
    // The network menu: connect and reconnect while down, disconnect while up.
    virtual void showConnected(bool connected) = 0;
    // Retrying a lost connection: connect, reconnect and disconnect all on.
    virtual void showRetrying() = 0;
    // The part of the window title after "Sketora - クライアント / ".
    virtual void setTitleStatus(const QString& status) = 0;
};

// The drawing channel: the pen it announces on every new connection.
class PenView {
public:
    virtual ~PenView() = default;
    virtual qint32 penColor() const = 0; // the canvas's fore colour
    virtual qint16 penWidth() const = 0; // the width value 0..3
};

// The status line: what the status timer keeps in step with the drawing socket.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void showStatus(const QString& text) = 0;
    virtual void setTitleStatus(const QString& status) = 0;
    virtual void setChatAvailable(bool available) = 0;
    virtual void setLogPlayAvailable(bool available) = 0;
};

// Notices a person must not miss, in a bar above the canvas: each stays
// until the person dismisses it or the logic clears it because its
// condition has ended. One line per kind; showing a kind again replaces its
// text and brings it to the top, so the newest notice is always first.
enum class NoticeKind {
    BackupWritten, // the own picture was kept in a file before the shared one replaced it
    LocalView,     // the canvas shows the member's own picture, not the shared one
    ClearAll,      // someone cleared everyone's canvas, or took that back (on this connection)
    Reconnecting,  // the connection was lost and is being made again
    BoardFull,     // every pen slot was taken when this connection came: nobody sees its strokes
};

class NoticeView {
public:
    virtual ~NoticeView() = default;
    virtual void showNotice(NoticeKind kind, const QString& text) = 0;
    virtual void clearNotice(NoticeKind kind) = 0;
};

// The log player: the playback progress panel and the preview.
class PlaybackView {
public:
    virtual ~PlaybackView() = default;
    virtual QWidget* dialogParent() = 0;
    // The panel appears with "読み込み中" and a line count of 0.
    virtual void showPlaybackReading() = 0;
    // The count of lines read so far; `repaintNow` paints it at once, since
    // reading does not return to the event loop.
    virtual void showPlaybackLinesRead(qint64 lines, bool repaintNow) = 0;
    // Reading is done: the final count, then "描画中" and an empty progress
    // bar over `total` lines.
    virtual void showPlaybackDrawing(qint64 total) = 0;
    virtual void showPlaybackProgress(qint64 applied) = 0;
    virtual void hidePlayback() = 0;
    virtual void refreshPreview() = 0;
};

// Undo and redo: the edit menu's two items and the clear-all question.
class UndoView {
public:
    virtual ~UndoView() = default;
    // `offered`: the server takes back strokes on this connection; `canUndo`,
    // `canRedo`: the member has an action of its own to take back / restore.
    virtual void showUndoState(bool offered, bool canUndo, bool canRedo) = 0;
};
