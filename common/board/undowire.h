#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringView>
#include <optional>

// Undo and redo on command 7 of the drawing channel. Only members of ours
// take part; nothing here reaches a described client.
//
// Upstream (a member of ours -> server):
//   "7:me <id> <name>"   who this connection is: <id> 8..32 characters of
//                        [0-9A-Za-z] that the member makes once and keeps
//                        (so its lists survive a reconnect); <name> the
//                        base64 of its UTF-8 chat name (at most 64 bytes), or
//                        "-". Sent after connecting and after a rename.
//   "7:undo <tok>"       take back my newest action
//   "7:redo <tok>"       restore my newest action taken back
// <tok>: 1..16 characters of [0-9A-Za-z], made by the asker.
//
// Downstream (server -> members of ours, index field always 0):
//   "0:7:undo <tok> <outcome> <undos> <redos>"   answer to the asker alone;
//   "0:7:redo <tok> <outcome> <undos> <redos>"   outcome done | none | busy
//       (none: nothing to take back or restore; busy: asked too often, try
//       again later); <undos>, <redos>: how many the asker has left.
//   "0:7:can <undos> <redos>"   the asker's counts changed otherwise (it
//       finished a stroke, someone cleared, it announced itself).
//   "0:7:patch <x> <y> <w> <h> <bytes> <chunks> <checksum>"
//   "0:7:pdata <base64>"        <chunks> lines of at most 48000 characters:
//       after an undo or redo, to every member of ours (the asker too), at the
//       point of the stream where the board changed: the rectangle's new
//       pixels as a PNG of <bytes> bytes (encoded like a snapshot), and the
//       checksum of the whole board after it (as in snapshot.h).
//   "0:7:cleared <index> <undoable> <name>"   sender index <index> cleared
//       everyone's canvas; <undoable> 1 when it can take that back; <name> as
//       in "me" ("-" when the server knows none).
//   "0:7:restored <index> <name>"   that member took its clear back.
//
// In the history (relayed form, index = the member; stored, never sent; a
// described player drops them as every command-7 line):
//   "k:7:me <member>" / "k:7:me -"   sender index k is that member from here
//       on / has left; <member> 16 hex digits of the SHA-256 of its <id>.
//   "k:7:undo <n>" / "k:7:redo <n>"  action n of this history taken back /
//       restored (actions numbered from 0, see undohistory.h).
//   "k:7:base <bytes> <chunks>", then <chunks> lines "k:7:bdata <base64>" of
//       at most 3000 characters: the picture beneath the history's first line
//       (what the clear-all that began it wiped), stored once, before that
//       clear is taken back, so a log holds everything a player needs.
//   "0:7:epoch"   what is undoable begins over the picture as it is here;
//       actions are numbered from 0 again (the server came back from its
//       journal with a history that its undo lists do not cover).
namespace undowire {

inline constexpr int MaxNameBytes = 64;
inline constexpr int MaxPatchChunk = 48000;
inline constexpr int MaxBaseChunk = 3000;

enum class Outcome { Done, None, Busy };

// --- the server's reading of upstream requests (terminator removed)
struct Request {
    enum Kind { Me, Undo, Redo } kind = Undo;
    QByteArray token; // the request token, or the member's id for Me
    QString name;     // Me: the decoded name (empty for "-")
};
std::optional<Request> parseRequest(QByteArrayView line);
// What the history keeps of a member's id.
QByteArray memberOf(QByteArrayView id);

// --- upstream, as our members write them (with "\r\n")
QByteArray meLine(QByteArrayView id, const QString& name);
QByteArray undoLine(QByteArrayView token);
QByteArray redoLine(QByteArrayView token);

// --- downstream, as the server writes them (with "\r\n")
QByteArray answerLine(Request::Kind kind, QByteArrayView token, Outcome outcome, int undos,
                      int redos);
QByteArray canLine(int undos, int redos);
// `pixels` is the board's rectangle `area`; or its PNG, already encoded.
QByteArray patchBlock(const QRect& area, const QImage& pixels, quint32 checksum);
QByteArray patchBlockOfPng(const QRect& area, const QByteArray& png, quint32 checksum);
QByteArray clearedLine(int index, bool undoable, const QString& name);
QByteArray restoredLine(int index, const QString& name);

// --- history markers (relayed form, with "\r\n")
QByteArray memberMarker(int index, QByteArrayView member); // empty member: "-"
QByteArray takeBackMarker(int index, bool undo, int action);
QByteArray baseBlock(int index, const QImage& picture);
QByteArray baseBlockOfPng(int index, const QByteArray& png);
QByteArray epochMarker(); // "0:7:epoch\r\n"

// The text of a name field: base64 of UTF-8, "-" for none.
QByteArray nameField(const QString& name);
std::optional<QString> readName(QStringView field);

// A member's reading of the downstream lines above (the argument after
// "0:7:", in stream order). A patch is handed out when its last data line
// completes it and every check passed; anything malformed or out of order
// drops it (the drift check repairs what is missed). Memory is bounded by
// the snapshot limit.
class Reader {
public:
    struct Event {
        enum Kind { None, Answer, Can, Patch, Cleared, Restored, Rejected } kind = None;
        Request::Kind request = Request::Undo; // Answer
        QString token;                         // Answer
        Outcome outcome = Outcome::None;       // Answer
        int undos = 0, redos = 0;              // Answer, Can
        QRect area;                            // Patch
        QImage pixels;                         // Patch: area.size(), Format_RGB32
        quint32 checksum = 0;                  // Patch
        int index = 0;                         // Cleared, Restored
        bool undoable = false;                 // Cleared
        QString name;                          // Cleared, Restored
    };

    Event feed(QStringView argument);
    bool isPending() const { return m_pending.has_value(); }
    void reset() { m_pending.reset(); }

private:
    struct Pending {
        QRect area;
        qint64 bytes = 0, chunks = 0, seen = 0;
        quint32 checksum = 0;
        QByteArray base64;
    };
    Event begin(const QList<QStringView>& f);
    Event addData(const QList<QStringView>& f);
    Event finish();
    Event reject();

    std::optional<Pending> m_pending;
};

} // namespace undowire
