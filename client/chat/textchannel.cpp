#include "textchannel.h"

#include "chatfonts.h"
#include "chatsettings.h"
#include "cp932.h"
#include "numbers.h"
#include "socketendpoint.h"
#include "textmessage.h"

TextChannel::TextChannel(net::SocketEndpoint& wsTxt, ChatSettings& settings, QObject* parent)
    : QObject(parent), m_wsTxt(wsTxt), m_settings(settings),
      m_splitter(QByteArray(protocol::text::Terminator)) {
    connect(&m_wsTxt, &net::SocketEndpoint::dataArrival, this, &TextChannel::wsTxtDataArrival);
    connect(&m_wsTxt, &net::SocketEndpoint::closed, this, &TextChannel::wsTxtClose);
    // A new connection starts a new byte stream: no tail of the old one may
    // be glued to its first message.
    connect(&m_wsTxt, &net::SocketEndpoint::connected, this, [this] { m_splitter.reset(); });
}

void TextChannel::wsTxtDataArrival() {
    // Frame on bytes first, decode each complete message afterwards, so a
    // double-byte character split between arrivals is decoded whole.
    const QList<QByteArray> pieces = m_splitter.feed(m_wsTxt.getData());
    for (const QByteArray& piece : pieces)
        wsTxtProc1(protocol::fromCp932(piece));
}

void TextChannel::wsTxtClose() {
    m_wsTxt.close();
    m_splitter.reset();
}

void TextChannel::wsTxtProc1(QStringView data) {
    const std::optional<protocol::text::DownMessage> message =
        protocol::text::parseDownMessage(data);
    if (!message)
        return; // fewer than three fields, or index / type beyond 16 bits
    wsTxtProc2(message->index, message->type, message->payload);
}

void TextChannel::wsTxtProc2(qint16 index, qint16 type, const QString& text) {
    using namespace protocol::text;
    const bool slot = protocol::hasSlot(index);
    switch (type) {
    case Leave:
        chatWrite(Leave, nameOf(index) + QStringLiteral(" さんが退室しました"), index);
        break;
    case Join:
        if (slot)
            m_memName[index] = text;
        chatWrite(Join, nameOf(index) + QStringLiteral(" さんが入室しました"), index);
        break;
    case Remark:
        chatWrite(Remark, text, index);
        break;
    case Rename: {
        // The notice is built from the old name before the new one is stored.
        const QString notice =
            nameOf(index) + QStringLiteral(" は ") + text + QStringLiteral(" に名前変更しました");
        if (slot)
            m_memName[index] = text;
        chatWrite(Rename, notice, index);
        break;
    }
    case MemberList:
        chatWrite(MemberList, QStringLiteral("\r\n現在のメンバ : \r\n") + text, index);
        break;
    case Name:
        if (slot)
            m_memName[index] = text;
        break;
    case FontColor:
        if (const auto colour = protocol::readInt32(text); slot && colour)
            m_memColor[index] = *colour;
        break;
    case FontSize:
        if (const auto size = protocol::readInt16(text); slot && size)
            m_memSize[index] = *size;
        break;
    case FontFace:
        if (const auto face = protocol::readInt16(text); slot && face)
            m_memFont[index] = *face;
        break;
    case Extension:
        emit extensionHeard(text);
        break;
    default:
        break; // other types mean nothing to the client
    }
}

void TextChannel::chatWrite(protocol::text::Type kind, const QString& text, qint16 index) {
    using namespace protocol::text;
    QTextDocument* conversation = m_opener ? m_opener() : nullptr;
    if (!conversation)
        return;
    switch (kind) {
    case Leave:
    case Join:
    case Rename:
    case MemberList:
        m_writer.writeNotice(*conversation, text);
        break;
    case Remark:
        m_writer.writeNotice(*conversation, nameOf(index) + QStringLiteral(" の発言 :"));
        m_writer.writeRemarkBody(*conversation, text, remarkLook(index));
        break;
    default:
        break;
    }
}

QString TextChannel::nameOf(int index) const {
    return protocol::hasSlot(index) ? m_memName[index] : QString();
}

// A member whose colour, size or face was never announced speaks black, in
// the buffer's size, gothic.
ConversationWriter::RemarkLook TextChannel::remarkLook(int index) const {
    ConversationWriter::RemarkLook look{0, 0, chatfonts::gothicFace()};
    if (!protocol::hasSlot(index))
        return look;
    look.color = m_memColor[index];
    if (chatfonts::isRunSize(m_memSize[index]))
        look.pointSize = m_memSize[index];
    look.face = chatfonts::faceName(m_memFont[index]);
    return look;
}

bool TextChannel::connected() const {
    return m_wsTxt.state() == net::SocketEndpoint::Connected;
}

bool TextChannel::send(int type, const QString& payload) {
    return m_wsTxt.sendBytes(protocol::text::clientMessage(type, payload));
}

void TextChannel::sendIfConnected(int type, const QString& payload) {
    if (connected())
        send(type, payload);
}

void TextChannel::announce(qint16 pointSize, qint32 colour) {
    if (!connected())
        return;
    send(protocol::text::Join, m_settings.confMyName);
    sendTxtSize(pointSize);
    send(protocol::text::FontColor, QString::number(colour));
    send(protocol::text::FontFace, QString::number(m_settings.confFontName));
}

bool TextChannel::sendRemark(const QString& typed) {
    if (!connected())
        return false;
    // A line break typed with Ctrl+Enter travels as CR LF inside the remark.
    QString remark = typed;
    remark.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return send(protocol::text::Remark, remark);
}

void TextChannel::sendTxtSize(qint16 size) {
    sendIfConnected(protocol::text::FontSize, QString::number(size));
}

void TextChannel::requestMemberList() {
    sendIfConnected(protocol::text::MemberList, QStringLiteral("member"));
}

void TextChannel::leave() {
    send(protocol::text::Leave, QStringLiteral("END"));
}

void TextChannel::chooseFace(qint16 face) {
    m_settings.confFontName = face;
    sendIfConnected(protocol::text::FontFace, QString::number(face));
}

void TextChannel::chooseSize(qint16 size) {
    m_settings.confFontSize = size;
    sendTxtSize(size);
}

void TextChannel::chooseColor(qint32 colour) {
    m_settings.confFontColor = colour;
    sendIfConnected(protocol::text::FontColor, QString::number(colour));
}

void TextChannel::chooseBackColor(qint32 colour) {
    m_settings.confFontBackColor = colour;
}

void TextChannel::rename(const QString& name) {
    m_settings.confMyName = name;
    sendIfConnected(protocol::text::Rename, name);
    emit renamed();
}
