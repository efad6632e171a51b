#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

// The WebSocket framing (RFC 6455) as the server side speaks it.
//
//   byte 0: FIN (0x80), RSV1-3 (0x70, must be 0), opcode (0x0f)
//   byte 1: MASK (0x80, set on every frame from a client), length 0..125,
//           126: 16-bit length follows, 127: 64-bit length follows
//   then the 4-byte masking key (client frames), then the payload
// Opcodes: 0 continuation, 1 text, 2 binary, 8 close, 9 ping, 10 pong.
// Control frames (8..10) are not fragmented and carry at most 125 bytes.
//
// FrameReader takes the client's bytes and hands out complete messages and
// control frames. Anything against the rules ends the connection with a
// close code: 1002 (protocol: an unmasked frame, RSV bits, an unknown
// opcode, a stray or missing continuation, a bad control frame), 1007 (text
// that is not UTF-8), 1009 (a message over the cap; refused by its header,
// before its payload is held). It holds at most one frame header, one
// control payload and one message of up to the cap.
namespace websocket {

enum Opcode : quint8 {
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xa,
};

struct Event {
    enum Kind { TextMessage, BinaryMessage, PingFrame, PongFrame, CloseFrame, Error } kind;
    QString text;       // TextMessage; CloseFrame: the reason
    QByteArray payload; // PingFrame, PongFrame
    quint16 code = 0;   // CloseFrame (1005 when none was given); Error: the close code to send
};

class FrameReader {
public:
    explicit FrameReader(qint64 messageCap) : m_cap(messageCap) {}

    // Reads what it can of `bytes`; after an Error event nothing more is read.
    std::vector<Event> feed(QByteArrayView bytes);
    bool failed() const { return m_failed; }

private:
    bool readHeader(std::vector<Event>& events);
    quint16 refusal(quint8 opcode, bool fin, quint64 length) const;
    void finishFrame(std::vector<Event>& events);
    void fail(std::vector<Event>& events, quint16 code);

    qint64 m_cap;
    QByteArray m_buffer; // bytes not yet read into a frame
    bool m_inFrame = false;
    bool m_fin = false;
    quint8 m_opcode = 0;
    quint8 m_mask[4] = {};
    qint64 m_remaining = 0;
    qint64 m_maskAt = 0;
    QByteArray m_control;     // payload of the control frame being read
    QByteArray m_message;     // the data message being gathered
    int m_messageOpcode = -1; // -1: no message in progress
    bool m_failed = false;
};

// One unmasked frame from the server, FIN set.
QByteArray frame(Opcode opcode, QByteArrayView payload);
QByteArray textFrame(const QString& text);
QByteArray closeFrame(quint16 code);

// The Sec-WebSocket-Accept value for a client's Sec-WebSocket-Key.
QByteArray acceptKey(QByteArrayView key);
// A key as the handshake requires it: the base64 of 16 bytes.
bool isValidKey(QByteArrayView key);

} // namespace websocket
