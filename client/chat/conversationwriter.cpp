#include "conversationwriter.h"

#include "chatfonts.h"
#include "cp932.h"
#include "qcolorvalue.h"

#include <QTextBlock>
#include <QTextCursor>

namespace {

// Line breaks inside a display text arrive as CR LF (the member list) or as
// lone CR / LF; each starts a new paragraph. A final break ends the last
// paragraph rather than opening an empty one.
QString paragraphsOf(const QString& text) {
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (plain.endsWith(QLatin1Char('\n')))
        plain.chop(1);
    return plain;
}

} // namespace

ConversationWriter::ConversationWriter() {
    m_backRTF.setDefaultFont(defaultFont());
}

QFont ConversationWriter::defaultFont() {
    QFont font(chatfonts::gothicFace());
    font.setPointSize(chatfonts::DefaultPointSize);
    return font;
}

void ConversationWriter::writeNotice(QTextDocument& conversation, const QString& text) {
    writeFragment(conversation, text, FragmentStyle{NoticeIndent, NoticeColor, 0, QString()});
}

void ConversationWriter::writeRemarkBody(QTextDocument& conversation, const QString& text,
                                         const RemarkLook& look) {
    writeFragment(conversation, text,
                  FragmentStyle{RemarkIndent, look.color, look.pointSize, look.face});
}

// One fragment: fill the buffer, style all of it, append it to the
// conversation as paragraphs of their own, empty the buffer again.
void ConversationWriter::writeFragment(QTextDocument& conversation, const QString& text,
                                       const FragmentStyle& style) {
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
    look.setForeground(colorFromValue(style.color));
    all.mergeCharFormat(look);
    // Empty paragraphs carry the look in their block format only.
    for (QTextBlock block = m_backRTF.begin(); block.isValid(); block = block.next()) {
        QTextCursor at(block);
        at.mergeBlockCharFormat(look);
    }

    appendBuffer(conversation);
    m_backRTF.clear();
}

void ConversationWriter::appendBuffer(QTextDocument& conversation) const {
    QTextCursor caret(&conversation);
    caret.movePosition(QTextCursor::End);
    bool reuseFirst = conversation.isEmpty();
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
    trimConversation(conversation);
}

// Removes whole paragraphs from the start until the conversation is within
// its bound again (the newest paragraph stays, however long it is).
void ConversationWriter::trimConversation(QTextDocument& conversation) {
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
