#include "chatsession.h"

#include "chatfonts.h"
#include "cp932.h"
#include "numbers.h"
#include "socketendpoint.h"
#include "textmessage.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

namespace {

// Line breaks inside a display text arrive as CR LF (the member list) or as
// lone CR / LF; each starts a new paragraph. A final break ends the last
// paragraph rather than opening an empty one.
QString paragraphsOf(const QString& text)
{
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (plain.endsWith(QLatin1Char('\n')))
        plain.chop(1);
    return plain;
}

} // namespace

ChatSession::ChatSession(net::SocketEndpoint& wsTxt, QObject* parent)
    : QObject(parent), m_wsTxt(wsTxt), m_splitter(QByteArray(protocol::text::Terminator))
{
    m_backRTF.setDefaultFont(defaultFont());
    connect(&m_wsTxt, &net::SocketEndpoint::dataArrival, this, &ChatSession::wsTxtDataArrival);
    connect(&m_wsTxt, &net::SocketEndpoint::closed, this, &ChatSession::wsTxtClose);
    // A new connection starts a new byte stream: no tail of the old one may
    // be glued to its first message.
    connect(&m_wsTxt, &net::SocketEndpoint::connected, this, [this] { m_splitter.reset(); });
}

QFont ChatSession::defaultFont()
{
    QFont font(chatfonts::gothicFace());
    font.setPointSize(chatfonts::DefaultPointSize);
    return font;
}

void ChatSession::wsTxtDataArrival()
{
    // Frame on bytes first, decode each complete message afterwards, so a
    // double-byte character split between arrivals is decoded whole.
    const QList<QByteArray> pieces = m_splitter.feed(m_wsTxt.getData());
    for (const QByteArray& piece : pieces)
        wsTxtProc1(protocol::fromCp932(piece));
}

void ChatSession::wsTxtClose()
{
    m_wsTxt.close();
    m_splitter.reset();
}

void ChatSession::wsTxtProc1(QStringView data)
{
    const std::optional<protocol::text::DownMessage> message =
        protocol::text::parseDownMessage(data);
    if (!message)
        return; // fewer than three fields, or index / type beyond 16 bits
    wsTxtProc2(message->index, message->type, message->payload);
}

void ChatSession::wsTxtProc2(qint16 index, qint16 type, const QString& text)
{
    using namespace protocol::text;
    const bool slot = hasSlot(index);
    switch (type) {
    case Leave:
        chatWrite(0, nameOf(index) + QStringLiteral(" さんが退室しました"), index);
        break;
    case Join:
        if (slot)
            m_memName[index] = text;
        chatWrite(1, nameOf(index) + QStringLiteral(" さんが入室しました"), index);
        break;
    case Remark:
        chatWrite(2, text, index);
        break;
    case Rename: {
        // The notice is built from the old name before the new one is stored.
        const QString notice =
            nameOf(index) + QStringLiteral(" は ") + text + QStringLiteral(" に名前変更しました");
        if (slot)
            m_memName[index] = text;
        chatWrite(3, notice, index);
        break;
    }
    case MemberList:
        chatWrite(4, QStringLiteral("\r\n現在のメンバ : \r\n") + text, index);
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
    default:
        break; // types outside 0..8 mean nothing to the client
    }
}

void ChatSession::chatWrite(qint16 kind, const QString& text, qint16 index)
{
    QTextEdit* box = m_opener ? m_opener() : nullptr;
    if (!box)
        return;
    switch (kind) {
    case 0:
    case 1:
    case 3:
    case 4:
        writeFragment(*box, text, noticeStyle());
        break;
    case 2:
        writeFragment(*box, nameOf(index) + QStringLiteral(" の発言 :"), noticeStyle());
        writeFragment(*box, text, remarkStyle(index));
        break;
    default:
        break;
    }
}

QString ChatSession::nameOf(int index) const
{
    return hasSlot(index) ? m_memName[index] : QString();
}

ChatSession::FragmentStyle ChatSession::noticeStyle() const
{
    return FragmentStyle{NoticeIndent, NoticeColor, 0, QString()};
}

ChatSession::FragmentStyle ChatSession::remarkStyle(int index) const
{
    FragmentStyle style{RemarkIndent, 0, 0, chatfonts::gothicFace()};
    if (!hasSlot(index))
        return style;
    style.color = m_memColor[index];
    if (chatfonts::isRunSize(m_memSize[index]))
        style.pointSize = m_memSize[index];
    style.face = chatfonts::faceName(m_memFont[index]);
    return style;
}

// One fragment: fill the buffer, style all of it, append it to the
// conversation as paragraphs of their own, empty the buffer again.
void ChatSession::writeFragment(QTextEdit& box, const QString& text, const FragmentStyle& style)
{
    m_backRTF.setPlainText(paragraphsOf(text));
    QTextCursor all(&m_backRTF);
    all.select(QTextCursor::Document);

    QTextBlockFormat paragraph;
    paragraph.setLeftMargin(style.indent);
    all.mergeBlockFormat(paragraph);

    QTextCharFormat look;
    if (style.pointSize > 0)
        look.setFontPointSize(style.pointSize);
    if (!style.face.isEmpty())
        look.setFontFamilies(QStringList{style.face});
    look.setForeground(protocol::colorFromValue(style.color));
    all.mergeCharFormat(look);
    // Empty paragraphs carry the look in their block format only.
    for (QTextBlock block = m_backRTF.begin(); block.isValid(); block = block.next()) {
        QTextCursor at(block);
        at.mergeBlockCharFormat(look);
    }

    appendBuffer(box);
    m_backRTF.clear();
    box.moveCursor(QTextCursor::End);
    box.ensureCursorVisible();
}

void ChatSession::appendBuffer(QTextEdit& box) const
{
    QTextDocument* conversation = box.document();
    QTextCursor caret(conversation);
    caret.movePosition(QTextCursor::End);
    bool reuseFirst = conversation->isEmpty();
    caret.beginEditBlock();
    for (QTextBlock block = m_backRTF.begin(); block.isValid(); block = block.next()) {
        if (reuseFirst) {
            caret.setBlockFormat(block.blockFormat());
            caret.setBlockCharFormat(block.charFormat());
            reuseFirst = false;
        } else {
            caret.insertBlock(block.blockFormat(), block.charFormat());
        }
        for (auto it = block.begin(); !it.atEnd(); ++it)
            caret.insertText(it.fragment().text(), it.fragment().charFormat());
    }
    caret.endEditBlock();
    trimConversation(*conversation);
}

// Removes whole paragraphs from the start until the conversation is within
// its bound again (the newest paragraph stays, however long it is).
void ChatSession::trimConversation(QTextDocument& conversation)
{
    const int excess = conversation.characterCount() - ConversationLimit;
    if (excess <= 0)
        return;
    QTextBlock cut = conversation.begin();
    while (cut.isValid() && cut.next().isValid() && cut.position() < excess)
        cut = cut.next();
    if (cut.position() == 0)
        return;
    // The first block survives a removal that reaches into later ones, with
    // its own formats: give it those of the paragraph that now comes first.
    const QTextBlockFormat paragraph = cut.blockFormat();
    const QTextCharFormat look = cut.charFormat();
    QTextCursor head(&conversation);
    head.setPosition(cut.position(), QTextCursor::KeepAnchor);
    head.removeSelectedText();
    head.setBlockFormat(paragraph);
    head.setBlockCharFormat(look);
}
