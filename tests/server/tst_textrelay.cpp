// The text channel over real loopback sockets: join greeting order, relays
// as received, member list, rename, leave with and without goodbye, the
// types that do nothing, and member records across reused indices.

#include "cp932.h"
#include "endpointarray.h"
#include "serverfixture.h"
#include "textrelay.h"

#include <QTest>

#include <algorithm>
#include <sys/socket.h>

namespace {

// Client messages as bytes: type "<:>" payload "%EOT%".
QByteArray msg(const QByteArray& body) {
    return body + "%EOT%";
}

} // namespace

class TestTextRelay : public QObject {
    Q_OBJECT
private slots:
    void joinGreetingInterleavesAttributesInIndexOrder();
    void relaysPiecesExactlyToJoinedMembers();
    void renameKeepsSpacesAndMemberListShowsJoinedOnly();
    void leaveWithAndWithoutGoodbye();
    void typesWithoutEffect();
    void reusedIndexStartsUnjoinedWithInheritedLooks();
    void messagesBeforeACloseAreHandledWhileHeldBack();
};

void TestTextRelay::joinGreetingInterleavesAttributesInIndexOrder() {
    ServerFixture f;
    auto a = f.connectText();
    auto b = f.connectText();
    auto c = f.connectText();
    QVERIFY(a && b && c);
    QCOMPARE(f.textIndex(*b), 1);

    // The join name is trimmed; the joiner hears its own notice.
    a->send(msg("1<:>  Alice  "));
    QCOMPARE(a->nextOne(), QByteArray("0<:>1<:>Alice"));
    a->send(msg("6<:>255") + msg("7<:>12") + msg("8<:>1"));
    QCOMPARE(a->next(3), (QList<QByteArray>{"0<:>6<:>255", "0<:>7<:>12", "0<:>8<:>1"}));
    c->send(msg("1<:>Carol"));
    QCOMPARE(a->nextOne(), QByteArray("2<:>1<:>Carol"));
    QCOMPARE(c->next(5), (QList<QByteArray>{"0<:>5<:>Alice", "0<:>6<:>255", "0<:>7<:>12",
                                            "0<:>8<:>1", "2<:>1<:>Carol"}));

    // b (index 1) joins between them: 0's attributes, its own notice, then 2's.
    b->send(msg("1<:>Bob"));
    QCOMPARE(b->next(9), (QList<QByteArray>{"0<:>5<:>Alice", "0<:>6<:>255", "0<:>7<:>12",
                                            "0<:>8<:>1", "1<:>1<:>Bob", "2<:>5<:>Carol",
                                            "2<:>6<:>0", "2<:>7<:>10", "2<:>8<:>0"}));
    QCOMPARE(a->nextOne(), QByteArray("1<:>1<:>Bob"));
    QCOMPARE(c->nextOne(), QByteArray("1<:>1<:>Bob"));
}

void TestTextRelay::relaysPiecesExactlyToJoinedMembers() {
    ServerFixture f;
    auto a = f.connectText();
    auto b = f.connectText();
    QVERIFY(a && b);
    a->send(msg("1<:>Alice"));
    QCOMPARE(a->nextOne(), QByteArray("0<:>1<:>Alice"));

    // A remark with "<:>" inside and CP932 text goes out whole, byte for byte.
    const QByteArray remark =
        "2<:>" + protocol::toCp932(QStringLiteral("こんにちは①髙～")) + "<:>tail";
    a->send(msg(remark));
    QCOMPARE(a->nextOne(), "0<:>" + remark);
    // A split message and a split double-byte character come out whole.
    const QByteArray kanji = protocol::toCp932(QStringLiteral("表"));
    a->send("2<:>" + kanji.left(1));
    QTRY_COMPARE(f.server->textEndpoints().pendingFrameBytes(0), qsizetype(5));
    a->send(kanji.mid(1) + "%EO");
    QTRY_COMPARE(f.server->textEndpoints().pendingFrameBytes(0), qsizetype(9));
    a->send("T%");
    QCOMPARE(a->nextOne(), "0<:>2<:>" + kanji);

    // b has not joined: it hears nothing, but its remark reaches a, without echo.
    b->send(msg("2<:>from outside") + msg("4<:>member"));
    QCOMPARE(a->nextOne(), QByteArray("1<:>2<:>from outside"));
    QCOMPARE(b->nextOne(), QByteArray("1<:>4<:>Alice\r\n"));
    QVERIFY(!b->received().contains("<:>2<:>"));
    // Two terminators in a row make no message between them.
    a->send("%EOT%%EOT%" + msg("2<:>x"));
    QCOMPARE(a->nextOne(), QByteArray("0<:>2<:>x"));
}

void TestTextRelay::renameKeepsSpacesAndMemberListShowsJoinedOnly() {
    ServerFixture f;
    auto a = f.connectText();
    auto b = f.connectText();
    QVERIFY(a && b);
    b->send(msg("4<:>member"));
    QCOMPARE(b->nextOne(), QByteArray("1<:>4<:>"));

    a->send(msg("1<:>Alice"));
    b->send(msg("1<:>Bob"));
    QCOMPARE(b->next(5).last(), QByteArray("1<:>1<:>Bob"));
    QCOMPARE(a->next(2).last(), QByteArray("1<:>1<:>Bob"));
    a->send(msg("3<:>  Ann  "));
    QCOMPARE(b->nextOne(), QByteArray("0<:>3<:>  Ann  "));
    QCOMPARE(a->nextOne(), QByteArray("0<:>3<:>  Ann  "));
    // Type 3 without a second field is dropped: nothing stored, nothing relayed.
    a->send(msg("3") + msg("4<:>"));
    QCOMPARE(a->nextOne(), QByteArray("0<:>4<:>  Ann  \r\nBob\r\n"));
    QCOMPARE(f.server->text().member(0).name, QByteArray("  Ann  "));
}

void TestTextRelay::leaveWithAndWithoutGoodbye() {
    ServerFixture f;
    auto a = f.connectText();
    auto b = f.connectText();
    auto c = f.connectText();
    auto d = f.connectText(); // never joins
    QVERIFY(a && b && c && d);
    for (auto* peer : {a.get(), b.get(), c.get()})
        peer->send(msg("1<:>m"));
    QTRY_VERIFY(f.server->text().member(2).joined == 1);
    a->next(a->available());
    b->next(b->available());
    c->next(c->available());

    // Goodbye: the others joined hear it as sent; the leaver gets no copy,
    // and its later close adds nothing.
    b->send(msg("0<:>END"));
    QCOMPARE(a->nextOne(), QByteArray("1<:>0<:>END"));
    QCOMPARE(c->nextOne(), QByteArray("1<:>0<:>END"));
    b.reset();
    // A drop without goodbye: every other text connection, joined or not,
    // hears it with the member count as payload.
    f.server->table().addRow(QStringLiteral("10.0.0.1"), 1); // the count is the drawing list's
    f.server->table().tick();
    c.reset();
    QCOMPARE(a->nextOne(), QByteArray("2<:>0<:>1"));
    QCOMPARE(d->nextOne(), QByteArray("2<:>0<:>1"));
    QVERIFY(!a->received().contains("1<:>0<:>1"));
    // Gone members are not listed any more.
    d->send(msg("4<:>member"));
    QCOMPARE(d->nextOne(), QByteArray("3<:>4<:>m\r\n"));

    // All Disconnect ends every membership too; names and looks stay.
    f.server->allDisconnect();
    QVERIFY(a->waitClosedByPeer());
    QVERIFY(f.server->start());
    auto e = f.connectText();
    QVERIFY(e);
    QCOMPARE(f.textIndex(*e), 0);
    e->send(msg("4<:>member"));
    QCOMPARE(e->nextOne(), QByteArray("0<:>4<:>"));
    QCOMPARE(f.server->text().member(2).name, QByteArray("m"));
}

void TestTextRelay::typesWithoutEffect() {
    ServerFixture f;
    auto a = f.connectText();
    auto b = f.connectText();
    QVERIFY(a && b);
    a->send(msg("1<:>Alice"));
    b->send(msg("1<:>Bob"));
    // The join notices (a: both joins; b: Alice's four attributes and its own join).
    QCOMPARE(a->next(2).size(), 2);
    QCOMPARE(b->next(5).size(), 5);

    // 5, 9, fractions, numbers beyond the tables: nothing stored, nothing relayed.
    b->send(msg("5<:>x") + msg("9<:>x") + msg("2.5<:>x") + msg("1.5<:>x") + msg("6<:>4294967296") +
            msg("7<:>40000") + msg("8") + msg("6<:>-1") + msg("2<:>marker"));
    QCOMPARE(a->next(2), (QList<QByteArray>{"1<:>6<:>-1", "1<:>2<:>marker"}));
    QCOMPARE(f.server->text().member(1).color, -1);
    QCOMPARE(f.server->text().member(1).size, qint16(10));
    QCOMPARE(b->next(2).last(), QByteArray("1<:>2<:>marker")); // b has joined: it hears itself
    // A first field that is not a number reads as 0: a leave.
    b->send(msg("abc<:>x"));
    QCOMPARE(a->nextOne(), QByteArray("1<:>abc<:>x"));
    QCOMPARE(f.server->text().member(1).joined, qint16(0));
    // A join without a second field joins silently.
    b->send(msg("1") + msg("4<:>"));
    QCOMPARE(b->nextOne(), QByteArray("1<:>4<:>Alice\r\nBob\r\n"));
    QCOMPARE(a->available(), 0);
}

void TestTextRelay::reusedIndexStartsUnjoinedWithInheritedLooks() {
    ServerFixture f;
    auto a = f.connectText();
    auto b = f.connectText();
    QVERIFY(a && b);
    a->send(msg("1<:>Alice"));
    b->send(msg("1<:>Bob") + msg("6<:>65280") + msg("7<:>14"));
    QTRY_COMPARE(f.server->text().member(1).size, qint16(14));
    b.reset();
    QTRY_COMPARE(f.server->textEndpoints().element(1), nullptr);
    a->next(a->available());

    auto c = f.connectText();
    QVERIFY(c);
    QCOMPARE(f.textIndex(*c), 1);
    const TextRelay::Member& slot = f.server->text().member(1);
    QCOMPARE(slot.joined, qint16(0));
    QCOMPARE(slot.name, QByteArray("127.0.0.1"));
    QCOMPARE(slot.color, 65280);
    QCOMPARE(slot.size, qint16(14));
    // Slot 20 never had start-up values.
    QCOMPARE(f.server->text().member(20).size, qint16(0));
    QCOMPARE(f.server->text().member(19).size, qint16(10));
}

// Members that join, speak, say goodbye and close while a slow reader holds
// arrivals back: the reader hears all of it, in order, with no drop notice,
// and a message left without its terminator at the close is handled too.
void TestTextRelay::messagesBeforeACloseAreHandledWhileHeldBack() {
    ServerFixture f;
    EndpointArray& ws = f.server->textEndpoints();
    ws.flowControl().setStallMs(24 * 3600 * 1000); // the reader stays "behind", never "stalled"
    auto flooder = f.connectText();
    QVERIFY(flooder);
    SlowReader reader(f.textPort());
    QVERIFY(reader.isOpen());
    QTRY_VERIFY(ServerFixture::indexOf(ws, reader.localPort()) >= 0);
    const int r = ServerFixture::indexOf(ws, reader.localPort());
    reader.send(msg("1<:>reader"));
    QTRY_COMPARE(f.server->text().member(r).joined, qint16(1));
    std::vector<std::unique_ptr<TestPeer>> closers;
    for (int i = 0; i < 9; ++i) {
        closers.push_back(f.connectText());
        QVERIFY(closers.back());
    }

    const int count = 3000;
    const QByteArray filler(4000, 'x');
    QByteArray flood;
    for (int i = 0; i < count; ++i)
        flood += msg("2<:>" + filler + QByteArray::number(i));
    flooder->send(flood); // 12 MB
    QTRY_VERIFY_WITH_TIMEOUT(ws.isHoldingArrivals(), 30000);

    QList<int> indices;
    for (auto& closer : closers) {
        const int k = f.textIndex(*closer);
        const QByteArray name = "m" + QByteArray::number(k);
        indices.append(k);
        closer->send(msg("1<:>" + name) + msg("2<:>bye from " + name));
        // The last goodbye lacks its terminator: nothing more will follow it.
        closer->send(k % 2 ? msg("0<:>END") : QByteArray("0<:>END"));
        ::shutdown(int(closer->socket().socketDescriptor()), SHUT_WR);
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        std::none_of(indices.begin(), indices.end(), [&](int k) { return ws.isConnected(k); }),
        10000);
    QVERIFY(ws.isHoldingArrivals());

    const QByteArray lastFlood = msg("0<:>2<:>" + filler + QByteArray::number(count - 1));
    QVERIFY(reader.readUntil(
        [&](const QByteArray& got) {
            return got.contains(lastFlood) && got.count("<:>0<:>END%EOT%") >= 9;
        },
        120000));
    const QByteArray& got = reader.received();
    QCOMPARE(got.count("%EOT%0<:>2<:>" + filler), qsizetype(count));
    for (const int k : indices) {
        const QByteArray p = QByteArray::number(k);
        const qsizetype join = got.indexOf(msg(p + "<:>1<:>m" + p));
        const qsizetype remark = got.indexOf(msg(p + "<:>2<:>bye from m" + p));
        const qsizetype leave = got.indexOf(msg(p + "<:>0<:>END"));
        QVERIFY2(join >= 0 && join < remark && remark < leave, p.constData());
        QCOMPARE(got.count(msg(p + "<:>0<:>END")), qsizetype(1));
        QVERIFY2(got.indexOf(p + "<:>0<:>", leave + 1) < 0, p.constData()); // no drop notice
    }
    QTRY_VERIFY(std::none_of(indices.begin(), indices.end(),
                             [&](int k) { return ws.element(k) != nullptr; }));
}

QTEST_GUILESS_MAIN(TestTextRelay)
#include "tst_textrelay.moc"
