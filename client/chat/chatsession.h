#pragma once

#include "framesplitter.h"

#include <QObject>
#include <QString>
#include <QStringView>
#include <QTextDocument>
#include <array>
#include <functional>

class QTextEdit;

namespace net {
class SocketEndpoint;
}

// The client's receiving side of the text channel (TCP 13468). It frames the
// arrivals of the main window's text endpoint at "%EOT%" (keeping an
// unterminated tail for the next arrival, so a message the network splits
// comes out whole), reads each message as index "<:>" type "<:>" text, keeps
// what it learns about every member in four 21-slot tables, and writes
// notices and remarks into the chat window's conversation box through the
// formatting buffer `backRTF`.
//
// Invariants: the tables are only ever indexed 0..20. A message about an index
// outside that range leaves the tables alone; its notice or remark is still
// shown, with an empty name and the default look. Nothing clears the tables:
// they outlive disconnects and the chat window.
class ChatSession : public QObject {
    Q_OBJECT
public:
    static constexpr int MemberSlots = 21;
    // Grey of notices and remark headers: RGB(50, 50, 50).
    static constexpr qint32 NoticeColor = 50 + 50 * 256 + 50 * 65536;
    // Paragraph left indents in pixels: notices and headers, remark bodies.
    static constexpr int NoticeIndent = 5;
    static constexpr int RemarkIndent = 16;
    // The conversation keeps its newest characters up to this many: the
    // oldest paragraphs go once it passes the bound. A long day of chatting
    // is a few ten thousand characters; only a flood from some member
    // reaches it, and it must not take the program's memory with it.
    static constexpr int ConversationLimit = 1000000;

    // Makes sure the chat window is open (running its whole opening sequence
    // when it was closed) and returns its conversation box, or nullptr when
    // the window is still not visible afterwards.
    using ConversationOpener = std::function<QTextEdit*()>;

    explicit ChatSession(net::SocketEndpoint& wsTxt, QObject* parent = nullptr);

    void setConversationOpener(ConversationOpener opener) { m_opener = std::move(opener); }

    // Socket events of the text endpoint (connected in the constructor).
    void wsTxtDataArrival();
    void wsTxtClose();

    // One message without its terminator: index "<:>" type "<:>" text.
    void wsTxtProc1(QStringView data);
    // Applies one message to the tables and shows it when it is a notice or a remark.
    void wsTxtProc2(qint16 index, qint16 type, const QString& text);
    // Writes one display text of the given kind (0..4) into the conversation box.
    void chatWrite(qint16 kind, const QString& text, qint16 index);

    const std::array<QString, MemberSlots>& memName() const { return m_memName; }
    const std::array<qint32, MemberSlots>& memColor() const { return m_memColor; }
    const std::array<qint16, MemberSlots>& memSize() const { return m_memSize; }
    const std::array<qint16, MemberSlots>& memFont() const { return m_memFont; }

    // The formatting buffer; empty between fragments.
    const QTextDocument& backRTF() const { return m_backRTF; }

    // The document font of the buffer, also given to the conversation box so
    // that notices look the same before and after a save.
    static QFont defaultFont();

private:
    struct FragmentStyle {
        int indent = NoticeIndent;
        qint32 color = NoticeColor;
        int pointSize = 0;  // 0: keep the buffer's default
        QString face;       // empty: keep the buffer's default
    };

    static bool hasSlot(int index) { return index >= 0 && index < MemberSlots; }
    QString nameOf(int index) const;
    FragmentStyle noticeStyle() const;
    FragmentStyle remarkStyle(int index) const;
    void writeFragment(QTextEdit& box, const QString& text, const FragmentStyle& style);
    void appendBuffer(QTextEdit& box) const;
    static void trimConversation(QTextDocument& conversation);

    net::SocketEndpoint& m_wsTxt;
    protocol::FrameSplitter m_splitter;
    ConversationOpener m_opener;
    QTextDocument m_backRTF;

    std::array<QString, MemberSlots> m_memName;
    std::array<qint32, MemberSlots> m_memColor{};
    std::array<qint16, MemberSlots> m_memSize{};
    std::array<qint16, MemberSlots> m_memFont{};
};
