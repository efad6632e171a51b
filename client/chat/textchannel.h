#pragma once

#include "conversationwriter.h"
#include "framesplitter.h"
#include "membertables.h"
#include "textmessage.h"

#include <QObject>
#include <QString>
#include <QStringView>
#include <array>
#include <functional>

struct ChatSettings;
class QTextDocument;

namespace net {
class SocketEndpoint;
}

// The client's side of the text channel, without any widget. The messages
// and their types are those of textmessage.h; the index of a downstream
// message (0..20) is the relay's number for the member it is about.
//
// Receiving frames the arrivals at "%EOT%" (keeping an unterminated tail for
// the next arrival, so a message the network splits comes out whole), keeps
// what it learns about every member in four 21-slot tables and writes
// notices and remarks into the conversation through the writer; the
// conversation opener makes sure the chat window is open first. Sending
// carries the user's remarks and announcements; every send but the leave
// message goes out only while the endpoint is connected (state 7). The user's
// name and look are stored in the chat settings as they are chosen, also
// while not connected.
//
// Invariants: the tables are only ever indexed 0..20. A message about an index
// outside that range leaves the tables alone; its notice or remark is still
// shown, with an empty name and the default look. Nothing clears the tables:
// they outlive disconnects and the chat window.
class TextChannel : public QObject {
    Q_OBJECT
public:
    static constexpr int MemberSlots = protocol::TableSlots;

    // Makes sure the chat window is open (running its whole opening sequence
    // when it was closed) and returns its conversation, or nullptr when the
    // window is still not visible afterwards.
    using ConversationOpener = std::function<QTextDocument*()>;

    TextChannel(net::SocketEndpoint& wsTxt, ChatSettings& settings, QObject* parent = nullptr);

    void setConversationOpener(ConversationOpener opener) { m_opener = std::move(opener); }

    // --- receiving
    // Socket events of the text endpoint (connected in the constructor).
    void wsTxtDataArrival();
    void wsTxtClose();
    // One downstream message without its terminator.
    void wsTxtProc1(QStringView data);
    // Applies one message to the tables and shows it when it is a notice or a remark.
    void wsTxtProc2(qint16 index, qint16 type, const QString& text);
    // Writes the display text of a message of type `kind` (leave, join,
    // remark, rename or member list) into the conversation: a notice, or for
    // a remark the speaker's header and the remark in the speaker's look.
    void chatWrite(protocol::text::Type kind, const QString& text, qint16 index);
    // A notice of the client's own (not a message) into an open conversation.
    void writeNotice(QTextDocument& conversation, const QString& text) {
        m_writer.writeNotice(conversation, text);
    }

    const std::array<QString, MemberSlots>& memName() const { return m_memName; }
    const std::array<qint32, MemberSlots>& memColor() const { return m_memColor; }
    const std::array<qint16, MemberSlots>& memSize() const { return m_memSize; }
    const std::array<qint16, MemberSlots>& memFont() const { return m_memFont; }
    const ConversationWriter& writer() const { return m_writer; }

    // --- sending
    bool connected() const;
    // The opening announcement: Join (name), FontSize, FontColor, FontFace.
    void announce(qint16 pointSize, qint32 colour);
    // A remark exactly as typed; a line break typed as LF travels as CR LF.
    // False when it was not sent (not connected).
    bool sendRemark(const QString& typed);
    void sendTxtSize(qint16 size); // FontSize
    void requestMemberList();      // MemberList
    // Sent without a connection test; a failed send changes nothing.
    void leave(); // Leave

    // --- the user's name and look: stored, then announced
    void chooseFace(qint16 face);        // FontFace
    void chooseSize(qint16 size);        // FontSize
    void chooseColor(qint32 colour);     // FontColor
    void chooseBackColor(qint32 colour); // the user's own: never sent
    void rename(const QString& name);    // Rename

signals:
    void renamed(); // the user's name in the settings changed
    // A message of type 9 (our own verbs, see server/linkkeeper.h), its payload.
    void extensionHeard(const QString& payload);

private:
    QString nameOf(int index) const;
    ConversationWriter::RemarkLook remarkLook(int index) const;
    bool send(int type, const QString& payload);
    void sendIfConnected(int type, const QString& payload);

    net::SocketEndpoint& m_wsTxt;
    ChatSettings& m_settings;
    protocol::FrameSplitter m_splitter;
    ConversationOpener m_opener;
    ConversationWriter m_writer;

    std::array<QString, MemberSlots> m_memName;
    std::array<qint32, MemberSlots> m_memColor{};
    std::array<qint16, MemberSlots> m_memSize{};
    std::array<qint16, MemberSlots> m_memFont{};
};
