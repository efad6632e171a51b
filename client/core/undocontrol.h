#pragma once

#include "undowire.h"

#include <QByteArray>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringView>
#include <functional>

class Canvas;
class DrawingChannel;
class NoticeView;
class UndoView;

// Undo and redo of the member's own strokes and clear-alls, which the server
// keeps and rebuilds (the lines: undowire.h). The client only asks, pastes
// what the server sends back and shows what it is told.
//
// - Who the member is: an id made once per run, so the server's lists follow
//   the member across reconnects, and the chat name, which the clear notices
//   carry. Announced ("7:me") once the server has shown on this connection
//   that it speaks command 7 (serverSpeaks(), after its first answer to the
//   shared picture's request), and again after a rename: a server built
//   before command 7 hears nothing of it.
// - What can be taken back: the counts of the server's answers and "can"
//   lines. A new connection, or none, offers nothing until the server says.
// - A patch is pasted onto the canvas at its place in the stream and the
//   preview follows. One that fails a check is dropped; the drift check
//   repairs what it would have changed.
// - "cleared" and "restored" become a notice for the person, in the notice
//   bar for as long as the connection lasts (and told for the chat).
class UndoControl : public QObject {
    Q_OBJECT
public:
    // Where requests go and replies come from, where patches land, the
    // edit menu, the notice bar, the preview refresh and the chat name as it
    // is now.
    struct Parts {
        DrawingChannel& channel;
        Canvas& canvas;
        UndoView& view;
        NoticeView& notices;
        std::function<void()> refreshPreview;
        std::function<QString()> name;
    };

    explicit UndoControl(Parts parts, QObject* parent = nullptr);

    QByteArray memberId() const { return m_id; }
    bool offered() const { return m_offered; }
    int undoCount() const { return m_undos; }
    int redoCount() const { return m_redos; }

    // The server answered a request of this connection: announce the member.
    void serverSpeaks();
    // Announces the member again (the name changed), when the server speaks.
    void announce();
    // "元に戻す(&U)" / "やり直し(&Y)": asked only while the server offers one.
    void undo();
    void redo();

signals:
    void notice(const QString& text);
    void patchApplied(const QRect& area);
    void answered(undowire::Outcome outcome); // the server's answer to a request of ours

private:
    void restart(); // a connection came up or went down
    void onLine(QStringView argument);
    void request(undowire::Request::Kind kind);
    void setCounts(bool offered, int undos, int redos);

    Parts m_parts;
    undowire::Reader m_reader;
    QByteArray m_id;
    bool m_speaks = false;  // the server answered on this connection
    bool m_offered = false; // ... and spoke of undo
    int m_undos = 0, m_redos = 0;
    quint32 m_requests = 0; // makes each request's token
};
