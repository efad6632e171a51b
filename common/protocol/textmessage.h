#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// Text-channel messages (TCP, port ports::Text). A message ends with "%EOT%"; fields are
// separated by "<:>". Text travels as CP932 bytes.
//
//   upstream   (client -> server):  type "<:>" payload
//   downstream (server -> client):  index "<:>" type "<:>" payload
//
// The server relays a piece exactly as received: index "<:>" piece "%EOT%".
namespace protocol::text {

enum Type : int {
    Leave = 0,      // "0<:>END"
    Join = 1,       // "1<:>name"
    Remark = 2,     // "2<:>remark"
    Rename = 3,     // "3<:>new name"
    MemberList = 4, // "4<:>member" upstream; names each followed by "\r\n" downstream
    Name = 5,       // server greeting only
    FontColor = 6,  // "6<:>colour"
    FontSize = 7,   // "7<:>points"
    FontFace = 8,   // "8<:>face" (1 mincho, else gothic)
    Extension = 9,  // "9<:>verb ..." ours only: described clients never send it and
                    // ignore it downstream; see the files that speak each verb
};

inline constexpr char Terminator[] = "%EOT%";
inline constexpr char Separator[] = "<:>";

// Client message, CP932-encoded, with terminator: type "<:>" payload "%EOT%".
QByteArray clientMessage(int type, const QString& payload);

// Server messages (bytes in, bytes out; the server never re-encodes a payload).
QByteArray relayedMessage(int index, QByteArrayView piece); // index<:>piece%EOT%
QByteArray serverMessage(int index, int type,
                         QByteArrayView payload); // index<:>type<:>payload%EOT%

// The server's reading of one piece (terminator removed): the type is the
// lenient value of the first field (not rounded); the payload the text between
// the first and second "<:>" only (empty when there is no "<:>").
struct UpMessage {
    double type = 0;
    QByteArray payload;
};
UpMessage parseUpMessage(QByteArrayView piece);

// The client's reading of one piece (decoded, terminator removed): fewer than
// three fields -> nullopt; index and type rounded to 16 bits (nullopt when they
// do not fit); the payload is the third field, further fields are dropped.
// Types outside 0..8 are returned as read: the caller ignores them.
struct DownMessage {
    qint16 index = 0;
    qint16 type = 0;
    QString payload;
};
std::optional<DownMessage> parseDownMessage(QStringView piece);

} // namespace protocol::text
