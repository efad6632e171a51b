#include "textrelay.h"

#include "connectiontable.h"
#include "endpointarray.h"
#include "extensionreader.h"
#include "numbers.h"
#include "textmessage.h"

#include <cmath>

namespace text = protocol::text;

namespace {

// The message type as a whole number; -1 for a fraction or a negative value,
// which no type matches.
int wholeType(double type) {
    if (type < 0 || type > 1000 || type != std::floor(type))
        return -1;
    return int(type);
}

QByteArray plain(qint64 value) {
    return protocol::plainNumber(value).toLatin1();
}

// Leading and trailing blanks (0x20 only) removed. A CP932 trail byte is
// never 0x20, so this cannot cut a character.
QByteArray trimSpaces(QByteArrayView bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && bytes[begin] == ' ')
        ++begin;
    while (end > begin && bytes[end - 1] == ' ')
        --end;
    return bytes.sliced(begin, end - begin).toByteArray();
}

} // namespace

TextRelay::TextRelay(EndpointArray& wsTxt, const ConnectionTable& table, QObject* parent)
    : QObject(parent), m_ws(wsTxt), m_table(table) {
    // Start-up values; slot 20 keeps zeros (font size 0) as it always has.
    for (int i = 0; i < TableSlots - 1; ++i)
        m_members[i].size = 10;
    connect(&m_ws, &EndpointArray::connectionRequest, this, &TextRelay::onConnectionRequest);
    connect(&m_ws, &EndpointArray::dataArrival, this, &TextRelay::onDataArrival);
    connect(&m_ws, &EndpointArray::closed, this, &TextRelay::onClose);
    connect(&m_ws, &EndpointArray::outputCapExceeded, this, &TextRelay::onClose);
}

void TextRelay::forgetJoined() {
    for (Member& member : m_members)
        member.joined = 0;
}

// Relay and list loops reach the elements that exist, and of those only the
// indices that have a member record.
int TextRelay::loopEnd() const {
    return qMin(m_ws.highestIndex(), TableSlots - 1);
}

// `WS_txt_ConnectionRequest`: the newcomer gets the lowest free index k and
// starts not joined, named after its address. Colour, size and face are
// inherited from the index's earlier user.
void TextRelay::onConnectionRequest(qintptr requestId) {
    const int k = m_ws.acceptNext(requestId);
    if (!protocol::hasSlot(k))
        return;
    m_members[k].joined = 0;
    m_members[k].name = m_ws.peer(k).address.toLatin1();
}

// `WS_txt_DataArrival`: every complete message, in order.
void TextRelay::onDataArrival(int k) {
    const QList<QByteArray> pieces = m_ws.takeFrames(k);
    for (const QByteArray& piece : pieces)
        dataGetProc(k, piece);
}

void TextRelay::dataGetProc(int k, QByteArrayView piece) {
    const text::UpMessage message = text::parseUpMessage(piece);
    // Types 3, 6, 7 and 8 need a second field; without one nothing happens.
    const bool hasPayload = piece.indexOf(QByteArrayView(text::Separator)) >= 0;
    const int type = wholeType(message.type);
    switch (type) {
    case text::Leave:
        if (!protocol::hasSlot(k))
            return;
        m_members[k].joined = 0;
        relay(k, piece);
        break;
    case text::Join:
        join(k, piece);
        break;
    case text::Remark:
        relay(k, piece);
        break;
    case text::Rename:
        if (!protocol::hasSlot(k) || !hasPayload)
            return;
        m_members[k].name = message.payload;
        relay(k, piece);
        break;
    case text::MemberList:
        sendMemberList(k);
        break;
    case text::FontColor: {
        const auto colour = protocol::readInt32(message.payload);
        if (!protocol::hasSlot(k) || !hasPayload || !colour)
            return;
        m_members[k].color = *colour;
        relay(k, piece);
        break;
    }
    case text::FontSize:
    case text::FontFace: {
        const auto value = protocol::readInt16(message.payload);
        if (!protocol::hasSlot(k) || !hasPayload || !value)
            return;
        qint16& field = type == text::FontSize ? m_members[k].size : m_members[k].font;
        field = *value;
        relay(k, piece);
        break;
    }
    case text::Extension:
        if (m_extension)
            m_extension->readExtension(k, piece);
        break;
    default:
        break;
    }
    // Type 5 and anything else (fractions, ...): nothing.
}

// Type 1. Every joined member (k included, at its own place in the index
// order) hears the join; k hears the name, colour, size and face of every
// other joined member at that member's place.
void TextRelay::join(int k, QByteArrayView piece) {
    if (!protocol::hasSlot(k))
        return;
    m_members[k].joined = 1;
    if (piece.indexOf(QByteArrayView(text::Separator)) < 0)
        return; // joined, but without a name nothing is announced
    m_members[k].name = trimSpaces(text::parseUpMessage(piece).payload);

    const QByteArray notice = text::serverMessage(k, text::Join, m_members[k].name);
    const int end = loopEnd();
    for (int i = 0; i <= end; ++i) {
        const Member& other = m_members[i];
        if (other.joined != 0)
            m_ws.send(i, notice);
        // Nothing is built for a joiner that is cut or gone.
        if (i != k && other.joined == 1 && m_ws.isConnected(k)) {
            m_ws.send(k, text::serverMessage(i, text::Name, other.name));
            m_ws.send(k, text::serverMessage(i, text::FontColor, plain(other.color)));
            m_ws.send(k, text::serverMessage(i, text::FontSize, plain(other.size)));
            m_ws.send(k, text::serverMessage(i, text::FontFace, plain(other.font)));
        }
    }
}

// Type 4: the names of the joined members, each followed by "\r\n", to the
// requester alone (joined or not).
void TextRelay::sendMemberList(int k) {
    if (!m_ws.isConnected(k))
        return; // a closed or cut peer is not answered
    QByteArray names;
    const int end = loopEnd();
    for (int i = 0; i <= end; ++i) {
        if (m_members[i].joined != 0) {
            names += m_members[i].name;
            names += "\r\n";
        }
    }
    m_ws.sendReply(k, text::serverMessage(k, text::MemberList, names));
}

void TextRelay::relay(int k, QByteArrayView piece) {
    const QByteArray relayed = text::relayedMessage(k, piece);
    const int end = loopEnd();
    for (int i = 0; i <= end; ++i)
        if (m_members[i].joined != 0)
            m_ws.send(i, relayed);
}

// `WS_txt_Close`: the peer closed (or was cut for not reading). A member that
// did not say goodbye is announced to every other text connection, joined or
// not, with the member count as payload.
void TextRelay::onClose(int k) {
    if (protocol::hasSlot(k) && m_members[k].joined != 0) {
        const QByteArray notice = text::serverMessage(k, text::Leave, plain(m_table.memCount()));
        const int highest = m_ws.highestIndex();
        for (int i = 0; i <= highest; ++i)
            if (i != k)
                m_ws.send(i, notice);
        // Gone is gone: a later joiner must not be told about this member,
        // nor find it in the member list.
        m_members[k].joined = 0;
    }
    m_ws.closeAndDestroy(k);
}
