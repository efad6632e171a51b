#pragma once

#include <QFont>
#include <QString>
#include <QTextDocument>

// Appends notices and remarks to a conversation document, each fragment
// through the formatting buffer `backRTF`: the fragment's text is put into the
// buffer, styled as a whole, appended to the conversation as paragraphs of
// its own, and the buffer is emptied again. Notices and remark headers are
// grey (RGB 50, 50, 50) in the buffer's default font and indented 5 pixels;
// remark bodies take the speaker's colour, size and face and are indented 16.
//
// The conversation keeps its newest characters up to ConversationLimit: the
// oldest paragraphs go whole once it passes the bound, and the paragraph that
// then comes first keeps its own look.
class ConversationWriter {
public:
    // Grey of notices and remark headers: RGB(50, 50, 50).
    static constexpr qint32 NoticeColor = 50 + 50 * 256 + 50 * 65536;
    // Paragraph left indents in pixels: notices and headers, remark bodies.
    static constexpr int NoticeIndent = 5;
    static constexpr int RemarkIndent = 16;
    // A long day of chatting is a few ten thousand characters; only a flood
    // from some member reaches the bound, and it must not take the program's
    // memory with it.
    static constexpr int ConversationLimit = 1000000;

    // The look of a remark body.
    struct RemarkLook {
        qint32 color = 0;  // 0x00BBGGRR
        int pointSize = 0; // 0: keep the buffer's default
        QString face;
    };

    ConversationWriter();

    void writeNotice(QTextDocument& conversation, const QString& text);
    void writeRemarkBody(QTextDocument& conversation, const QString& text, const RemarkLook& look);

    // The buffer; empty between fragments.
    const QTextDocument& backRTF() const { return m_backRTF; }

    // The document font of the buffer, also given to the conversation box so
    // that notices look the same before and after a save.
    static QFont defaultFont();

private:
    struct FragmentStyle {
        int indent = NoticeIndent;
        qint32 color = NoticeColor;
        int pointSize = 0; // 0: keep the buffer's default
        QString face;      // empty: keep the buffer's default
    };

    void writeFragment(QTextDocument& conversation, const QString& text,
                       const FragmentStyle& style);
    void appendBuffer(QTextDocument& conversation) const;
    static void trimConversation(QTextDocument& conversation);

    QTextDocument m_backRTF;
};
