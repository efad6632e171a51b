#pragma once

#include <QtGlobal>

class QString;
class QWidget;

// What the collaborators of the main window may ask of it. Each collaborator
// gets the one view it needs instead of the window with all its controls; the
// main window implements them all. The views speak in intents ("show the
// connection as up"), never in controls.

// The connection control: the network menu's state, the title and the pen
// announcement that opens every drawing connection.
class ConnectionView {
public:
    virtual ~ConnectionView() = default;
    virtual QWidget* dialogParent() = 0;
    // The network menu: connect and reconnect while down, disconnect while up.
    virtual void showConnected(bool connected) = 0;
    // The part of the window title after "Sketora - クライアント / ".
    virtual void setTitleStatus(const QString& status) = 0;
    // Sends the pen colour line, then the pen width line.
    virtual void announcePen() = 0;
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
