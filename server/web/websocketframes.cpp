#include "websocketframes.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <optional>
#include <utility>

namespace websocket {

namespace {

constexpr quint16 ProtocolError = 1002;
constexpr quint16 InvalidData = 1007;
constexpr quint16 TooBig = 1009;
constexpr quint16 NoStatus = 1005;
constexpr qsizetype MaxControl = 125;

bool isControl(quint8 opcode) {
    return opcode >= 0x8;
}

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

void FrameReader::fail(std::vector<Event>& events, quint16 code) {
    m_failed = true;
    m_buffer.clear();
    m_message.clear();
    events.push_back({Event::Error, {}, {}, code});
}

// The close code that refuses a frame with this header, 0 when it may come.
quint16 FrameReader::refusal(quint8 opcode, bool fin, quint64 length) const {
    if (isControl(opcode))
        return fin && length <= quint64(MaxControl) ? 0 : ProtocolError;
    // A stray continuation, or a new message inside one.
    if ((opcode == Continuation) != (m_messageOpcode >= 0))
        return ProtocolError;
    return quint64(m_message.size()) + length > quint64(m_cap) ? TooBig : 0;
}

// The header of the next frame, once all of it is there. False when more
// bytes are needed or the frame is refused.
bool FrameReader::readHeader(std::vector<Event>& events) {
    if (m_buffer.size() < 2)
        return false;
    const auto b0 = quint8(m_buffer[0]);
    const auto b1 = quint8(m_buffer[1]);
    const quint8 opcode = b0 & 0x0f;
    if ((b0 & 0x70) != 0 || !(b1 & 0x80) ||
        (opcode > Binary && opcode != Close && opcode != Ping && opcode != Pong)) {
        fail(events, ProtocolError);
        return false;
    }
    const quint8 length7 = b1 & 0x7f;
    const int lengthBytes = length7 == 126 ? 2 : length7 == 127 ? 8 : 0;
    if (m_buffer.size() < 2 + lengthBytes + 4)
        return false;
    quint64 length = lengthBytes ? 0 : length7;
    qsizetype at = 2;
    for (int i = 0; i < lengthBytes; ++i)
        length = (length << 8) | quint8(m_buffer[at++]);
    const bool fin = b0 & 0x80;
    const quint16 refused = (length >> 63) ? ProtocolError : refusal(opcode, fin, length);
    if (refused) {
        fail(events, refused);
        return false;
    }
    for (int i = 0; i < 4; ++i)
        m_mask[i] = quint8(m_buffer[at++]);
    m_buffer.remove(0, at);
    m_inFrame = true;
    m_fin = fin;
    m_opcode = opcode;
    m_remaining = qint64(length);
    m_maskAt = 0;
    m_control.clear();
    if (!isControl(opcode) && opcode != Continuation)
        m_messageOpcode = opcode;
    return true;
}

std::vector<Event> FrameReader::feed(QByteArrayView bytes) {
    std::vector<Event> events;
    if (m_failed)
        return events;
    m_buffer.append(bytes);
    while (!m_failed) {
        if (!m_inFrame && !readHeader(events))
            break;
        const qsizetype take = qsizetype(qMin<qint64>(m_remaining, m_buffer.size()));
        QByteArray& target = isControl(m_opcode) ? m_control : m_message;
        const qsizetype from = target.size();
        target.append(m_buffer.constData(), take);
        char* data = target.data() + from;
        for (qsizetype i = 0; i < take; ++i)
            data[i] = char(data[i] ^ m_mask[(m_maskAt + i) & 3]);
        m_maskAt += take;
        m_remaining -= take;
        m_buffer.remove(0, take);
        if (m_remaining > 0)
            break;
        finishFrame(events);
    }
    return events;
}

void FrameReader::finishFrame(std::vector<Event>& events) {
    m_inFrame = false;
    switch (m_opcode) {
    case Ping:
        events.push_back({Event::PingFrame, {}, m_control, 0});
        return;
    case Pong:
        events.push_back({Event::PongFrame, {}, m_control, 0});
        return;
    case Close: {
        if (m_control.size() == 1)
            return fail(events, ProtocolError);
        Event close{Event::CloseFrame, {}, {}, NoStatus};
        if (m_control.size() >= 2) {
            close.code = quint16((quint8(m_control[0]) << 8) | quint8(m_control[1]));
            const auto reason = strictUtf8(QByteArrayView(m_control).sliced(2));
            if (!reason)
                return fail(events, InvalidData);
            close.text = *reason;
        }
        events.push_back(close);
        m_failed = true; // nothing after a close is read
        return;
    }
    default:
        break;
    }
    if (!m_fin)
        return;
    const int opcode = std::exchange(m_messageOpcode, -1);
    QByteArray message = std::exchange(m_message, QByteArray());
    if (opcode == Binary) {
        events.push_back({Event::BinaryMessage, {}, message, 0});
        return;
    }
    const auto text = strictUtf8(message);
    if (!text)
        return fail(events, InvalidData);
    events.push_back({Event::TextMessage, *text, {}, 0});
}

QByteArray frame(Opcode opcode, QByteArrayView payload) {
    QByteArray out;
    out.reserve(payload.size() + 10);
    out += char(0x80 | opcode);
    const qsizetype n = payload.size();
    if (n < 126) {
        out += char(n);
    } else if (n <= 0xffff) {
        out += char(126);
        out += char(n >> 8);
        out += char(n & 0xff);
    } else {
        out += char(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += char((quint64(n) >> shift) & 0xff);
    }
    out.append(payload);
    return out;
}

QByteArray textFrame(const QString& text) {
    return frame(Text, text.toUtf8());
}

QByteArray closeFrame(quint16 code) {
    const char payload[2] = {char(code >> 8), char(code & 0xff)};
    return frame(Close, QByteArrayView(payload, 2));
}

QByteArray acceptKey(QByteArrayView key) {
    QByteArray input = key.toByteArray();
    input += "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    return QCryptographicHash::hash(input, QCryptographicHash::Sha1).toBase64();
}

bool isValidKey(QByteArrayView key) {
    const auto decoded =
        QByteArray::fromBase64Encoding(key.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    return key.size() == 24 && decoded && decoded.decoded.size() == 16;
}

} // namespace websocket
