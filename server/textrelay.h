#pragma once

#include "membertables.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <array>

class ConnectionTable;
class EndpointArray;
class ExtensionReader;

// The text channel of the server (TCP 13468, endpoint array `WS_txt`): the
// chat. Each index 0..20 has a member record; members that have joined
// (type 1) receive what anyone says as  index "<:>" piece "%EOT%", the piece
// exactly as received. The relay answers member-list requests, greets a
// joining member with the name, colour, size and face of every other joined
// member, and announces a member whose connection ends without a goodbye.
//
// Names and payloads stay CP932 bytes from arrival to relay; only the
// numbers the server writes itself are made here (plain decimal).
//
// Type 9, which described clients never send and ignore when received,
// carries the verbs of our own members: the extension reader answers them
// (see linkkeeper.h); anything else of type 9 does nothing, as before.
class TextRelay : public QObject {
    Q_OBJECT
public:
    static constexpr int TableSlots = protocol::TableSlots;

    struct Member {
        QByteArray name;   // `memName`
        qint32 color = 0;  // `memColor`, 0x00BBGGRR
        qint16 size = 0;   // `memSize`, points
        qint16 font = 0;   // `memFont`, 0 gothic, 1 mincho
        qint16 joined = 0; // `memJoined`
    };

    TextRelay(EndpointArray& wsTxt, const ConnectionTable& table, QObject* parent = nullptr);

    const Member& member(int index) const { return m_members.at(index); }

    // `DataGetProc`: one message from connection k, terminator removed.
    void dataGetProc(int k, QByteArrayView piece);

    // Every connection is gone (All Disconnect, shutdown): nobody is joined.
    void forgetJoined();

    // Reads type-9 messages; null for nobody.
    void setExtensionReader(ExtensionReader* reader) { m_extension = reader; }

private:
    void onConnectionRequest(qintptr requestId);
    void onDataArrival(int k);
    void onClose(int k);
    void join(int k, QByteArrayView piece);
    void sendMemberList(int k);
    void relay(int k, QByteArrayView piece);
    int loopEnd() const;

    EndpointArray& m_ws;
    const ConnectionTable& m_table;
    std::array<Member, TableSlots> m_members;
    ExtensionReader* m_extension = nullptr;
};
