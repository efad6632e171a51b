#include "colorvalue.h"
#include "cp932.h"
#include "drawingline.h"
#include "framesplitter.h"
#include "numbers.h"
#include "textmessage.h"

#include <QtTest>

using namespace protocol;

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void lenientReading_data();
    void lenientReading();
    void roundingAndFit();
    void clientAndPlainNumbers();
    void upstreamLines();
    void downstreamLinesFromServer();
    void clientParsesDownLines();
    void serverParsesUpLines();
    void pointSplitting();
    void textMessages();
    void framing();
    void framingCap();
    void cp932RoundTrip();
    void cp932Unmappable();
    void cp932ControlAndInvalidBytes();
    void colourValues();
};

void TestProtocol::lenientReading_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "120" << 120.0;
    QTest::newRow("blank-prefixed") << " 120" << 120.0;
    QTest::newRow("trailing letters") << "120abc" << 120.0;
    QTest::newRow("blanks and sign") << "  -3" << -3.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("plus") << "+7" << 7.0;
    QTest::newRow("fraction then e") << "1.5e" << 1.5;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("word") << "member" << 0.0;
    QTest::newRow("tab") << "\t42" << 42.0;
    QTest::newRow("stops at comma") << " 10, 20" << 10.0;
    QTest::newRow("second point") << "1.2.3" << 1.2;
}

void TestProtocol::lenientReading() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(readNumber(text), value);
    QCOMPARE(readNumber(QByteArrayView(text.toLatin1())), value);
}

void TestProtocol::roundingAndFit() {
    // Halves go to the even neighbour.
    QCOMPARE(roundToInt16(0.5), std::optional<qint16>(0));
    QCOMPARE(roundToInt16(1.5), std::optional<qint16>(2));
    QCOMPARE(roundToInt16(2.5), std::optional<qint16>(2));
    QCOMPARE(roundToInt16(-0.5), std::optional<qint16>(0));
    QCOMPARE(roundToInt16(-1.5), std::optional<qint16>(-2));
    // 16-bit edges: 32767.5 rounds up to 32768 and does not fit; -32768.5
    // rounds to the even -32768, which does.
    QCOMPARE(roundToInt16(32767.5), std::nullopt);
    QCOMPARE(roundToInt16(32767.4), std::optional<qint16>(32767));
    QCOMPARE(roundToInt16(-32768.5), std::optional<qint16>(-32768));
    QCOMPARE(roundToInt16(-32769), std::nullopt);
    QCOMPARE(roundToInt16(32768), std::nullopt);
    // 32-bit edges.
    QCOMPARE(roundToInt32(2147483647.0), std::optional<qint32>(2147483647));
    QCOMPARE(roundToInt32(2147483647.5), std::nullopt);
    QCOMPARE(roundToInt32(-2147483648.0), std::optional<qint32>(-2147483647 - 1));
    QCOMPARE(roundToInt32(-2147483649.0), std::nullopt);
    QCOMPARE(roundToInt32(std::numeric_limits<double>::infinity()), std::nullopt);
    QCOMPARE(roundToInt32(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    // Reading and rounding together.
    QCOMPARE(readInt16(u"99999"), std::nullopt);
    QCOMPARE(readInt32(u"16777215"), std::optional<qint32>(16777215));
    QCOMPARE(readInt16(QByteArrayView("999999999999999999999999")), std::nullopt);
}

void TestProtocol::clientAndPlainNumbers() {
    QCOMPARE(clientNumber(120), QString(" 120"));
    QCOMPARE(clientNumber(0), QString(" 0"));
    QCOMPARE(clientNumber(-3), QString("-3"));
    QCOMPARE(plainNumber(120), QString("120"));
    QCOMPARE(plainNumber(-3), QString("-3"));
}

void TestProtocol::upstreamLines() {
    using namespace drawing;
    QCOMPARE(penUpLine(), QByteArray("0:0\r\n"));
    QCOMPARE(penDownLine(120, 45), QByteArray("1: 120, 45\r\n"));
    QCOMPARE(restartLine(120, -45), QByteArray("1:120,-45\r\n"));
    QCOMPARE(drawLine(-3, 7), QByteArray("2:-3, 7\r\n"));
    QCOMPARE(clearAllLine(), QByteArray("3: 0, 0\r\n"));
    QCOMPARE(colorLine(255), QByteArray("4: 255\r\n"));
    QCOMPARE(widthLine(3), QByteArray("5: 3\r\n"));
    QCOMPARE(eraseLine(10, 20), QByteArray("6: 10, 20\r\n"));
    QCOMPARE(memberRequestLine(), QByteArray("8:member\r\n"));
}

void TestProtocol::downstreamLinesFromServer() {
    using namespace drawing;
    QCOMPARE(relayedLine(3, "2: 120, 45"), QByteArray("3:2: 120, 45\r\n"));
    QCOMPARE(memberCountLine(4), QByteArray("0:8:4\r\n"));
    QCOMPARE(greetingColorLine(5, 255), QByteArray("5:4:255\r\n"));
    QCOMPARE(greetingColorLine(6, -1), QByteArray("6:4:-1\r\n"));
    QCOMPARE(greetingWidthLine(5, 2), QByteArray("5:5:2\r\n"));
}

void TestProtocol::clientParsesDownLines() {
    using namespace drawing;
    auto line = readDownLine(u"3:2: 120, 45");
    QVERIFY(line);
    QCOMPARE(line->index, 3);
    QCOMPARE(line->command, 2);
    QCOMPARE(line->argument.toString(), QString(" 120, 45"));

    auto count = readDownLine(u"4:8:3");
    QVERIFY(count);
    QCOMPARE(count->command, 8);
    QCOMPARE(count->argument.toString(), QString("3"));

    QVERIFY(readDownLine(u"3:2: 1, 2:extra"));        // a fourth field is allowed
    QVERIFY(!readDownLine(u"3:9: 1, 2"));             // command 9
    QVERIFY(!readDownLine(u"3:2:1:2:3"));             // five fields
    QVERIFY(!readDownLine(u"3:2"));                   // no argument
    QVERIFY(!readDownLine(u"70000:2: 1, 1"));         // index does not fit
    QVERIFY(!readDownLine(u"1:-40000:x"));            // command does not fit
    QCOMPARE(readDownLine(u"1:8.7:x")->command, 9);   // 8.7 is below 9; the applier ignores 9
    QCOMPARE(readDownLine(u"25:3: 0, 0")->index, 25); // beyond 20 still parses
}

void TestProtocol::serverParsesUpLines() {
    using namespace drawing;
    UpLine a = parseUpLine("2: 120, 45");
    QCOMPARE(a.command, 2.0);
    QCOMPARE(a.data, std::optional<QByteArray>(" 120, 45"));
    UpLine b = parseUpLine(" 08:member:x");
    QCOMPARE(b.command, 8.0);
    QCOMPARE(b.data, std::optional<QByteArray>("member"));
    UpLine c = parseUpLine("8");
    QCOMPARE(c.command, 8.0);
    QVERIFY(!c.data);
    UpLine d = parseUpLine("8:");
    QCOMPARE(d.data, std::optional<QByteArray>(""));
}

void TestProtocol::pointSplitting() {
    using namespace drawing;
    PointText p = splitPoint(u" 10, 20");
    QCOMPARE(p.x.toString(), QString(" 10"));
    QCOMPARE(p.y->toString(), QString(" 20"));
    PointText xOnly = splitPoint(u" 10");
    QVERIFY(!xOnly.y);
    PointText three = splitPoint(u"1,2,3");
    QCOMPARE(three.y->toString(), QString("2"));
}

void TestProtocol::textMessages() {
    using namespace text;
    QCOMPARE(clientMessage(Remark, QStringLiteral("やあ")),
             QByteArray("2<:>\x82\xe2\x82\xa0%EOT%"));
    QCOMPARE(relayedMessage(2, "2<:>hi<:>there"), QByteArray("2<:>2<:>hi<:>there%EOT%"));
    QCOMPARE(serverMessage(1, 6, "255"), QByteArray("1<:>6<:>255%EOT%"));

    UpMessage up = parseUpMessage(" 3<:>  new  <:>rest");
    QCOMPARE(up.type, 3.0);
    QCOMPARE(up.payload, QByteArray("  new  "));
    QCOMPARE(parseUpMessage("abc<:>x").type, 0.0); // not a number: a leave
    QCOMPARE(parseUpMessage("7.5<:>x").type, 7.5);

    auto down = parseDownMessage(u"3<:>2<:>hello<:>world");
    QVERIFY(down);
    QCOMPARE(down->index, 3);
    QCOMPARE(down->type, 2);
    QCOMPARE(down->payload, QString("hello")); // cut at the first separator
    QVERIFY(!parseDownMessage(u"3<:>2"));
    QCOMPARE(parseDownMessage(u"1<:>12<:>x")->type, 12); // the caller ignores it
    QVERIFY(!parseDownMessage(u"99999<:>1<:>x"));
}

void TestProtocol::framing() {
    FrameSplitter lines("\r\n");
    // A line in three arrivals, the terminator itself split.
    QVERIFY(lines.feed("3:2: 12").isEmpty());
    QVERIFY(lines.feed("0, 45\r").isEmpty());
    QCOMPARE(lines.feed("\n"), QList<QByteArray>{"3:2: 120, 45"});
    // Several lines and empty pieces in one arrival.
    QCOMPARE(lines.feed("\r\n1: 5, 5\r\n\r\n2: 6, 6\r\n4: 2"),
             (QList<QByteArray>{"1: 5, 5", "2: 6, 6"}));
    QCOMPARE(lines.pendingSize(), 4);
    QCOMPARE(lines.feed("55\r\n"), QList<QByteArray>{"4: 255"});

    FrameSplitter messages("%EOT%");
    QVERIFY(messages.feed("1<:>2<:>he%E").isEmpty());
    QCOMPARE(messages.feed("OT%%EOT%1<:>"), QList<QByteArray>{"1<:>2<:>he"});
    QCOMPARE(messages.feed("0<:>x%EOT%"), QList<QByteArray>{"1<:>0<:>x"});
    // A two-byte character split between arrivals comes out whole after decoding.
    const QByteArray name = toCp932(QStringLiteral("髙橋"));
    QVERIFY(messages.feed(QByteArray("0<:>1<:>") + name.left(1)).isEmpty());
    const QList<QByteArray> done = messages.feed(name.mid(1) + "%EOT%");
    QCOMPARE(done.size(), 1);
    QCOMPARE(fromCp932(done[0]), QStringLiteral("0<:>1<:>髙橋"));
}

void TestProtocol::framingCap() {
    FrameSplitter lines("\r\n", 16);
    QVERIFY(lines.feed(QByteArray(10, 'a')).isEmpty());
    QVERIFY(lines.feed(QByteArray(10, 'b')).isEmpty());
    QVERIFY(lines.pendingSize() <= 16);
    QVERIFY(lines.discardedBytes() > 0);
    // The connection stays usable: the next complete line frames normally
    // (a leftover fragment of the discarded run may precede it on the same line).
    const QList<QByteArray> after = lines.feed("\r\n2: 1, 1\r\n");
    QCOMPARE(after.last(), QByteArray("2: 1, 1"));
    QCOMPARE(lines.pendingSize(), 0);

    // Memory stays bounded however long the unterminated stream runs.
    FrameSplitter flood("%EOT%", 1024);
    for (int i = 0; i < 1000; ++i)
        flood.feed(QByteArray(4096, 'x'));
    QVERIFY(flood.pendingSize() <= 1024);
}

void TestProtocol::cp932RoundTrip() {
    struct Case {
        QString text;
        QByteArray bytes;
    };
    const QList<Case> cases = {
        {QStringLiteral("Sketoraユーザー"), QByteArray("Sketora\x83\x86\x81\x5b\x83\x55\x81\x5b")},
        {QStringLiteral("ＭＳ ゴシック"),
         QByteArray("\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e")},
        {QStringLiteral("～"), QByteArray("\x81\x60")},
        {QStringLiteral("①"), QByteArray("\x87\x40")},
        {QStringLiteral("髙"), QByteArray("\xfb\xfc")},
        {QStringLiteral("－"), QByteArray("\x81\x7c")},
    };
    for (const Case& c : cases) {
        QCOMPARE(toCp932(c.text), c.bytes);
        QCOMPARE(fromCp932(c.bytes), c.text);
    }
    // Both wave-dash code points give the Windows bytes.
    QCOMPARE(toCp932(QString(QChar(0x301C))), QByteArray("\x81\x60"));
    QCOMPARE(toCp932(QString(QChar(0x2212))), QByteArray("\x81\x7c"));
    // NEC-selected IBM extension row as written by Windows (ED/EE rows decode too).
    QCOMPARE(fromCp932(QByteArray("\xed\x40")).size(), 1);
}

void TestProtocol::cp932Unmappable() {
    QCOMPARE(toCp932(QStringLiteral("a😀b")), QByteArray("a?b"));
    QCOMPARE(toCp932(QStringLiteral("한")), QByteArray("?"));
    // An invalid byte costs only itself: the text around it survives.
    const QString decoded = fromCp932(QByteArray("x\xff"
                                                 "y\x85\x40z"));
    QVERIFY(decoded.startsWith(u'x'));
    QVERIFY(decoded.contains(u'y'));
    QVERIFY(decoded.endsWith(u'z'));
}

// ASCII bytes are themselves in both directions (the converter's own table
// swaps 0x1A, 0x1C and 0x7F); every invalid byte is one U+FFFD, and a lead
// byte cut off at the end is not dropped, so decoding a text line by line
// gives the same characters as decoding it whole.
void TestProtocol::cp932ControlAndInvalidBytes() {
    const QByteArray controls("\x1a\x1c\x7f\x00\\~", 6);
    const QString decoded = fromCp932(controls);
    QCOMPARE(decoded, QString::fromLatin1(controls));
    QCOMPARE(toCp932(decoded), controls);
    QCOMPARE(fromCp932(QByteArray("\x83\x5c\x1a")), QStringLiteral("ソ\x1a"));

    const QChar bad = QChar::ReplacementCharacter;
    QCOMPARE(fromCp932(QByteArray("x\x80y\xa0z\xfd")), QStringList({"x", "y", "z", ""}).join(bad));
    QCOMPARE(fromCp932(QByteArray("a\x81")), QString("a") + bad);
    QCOMPARE(fromCp932(QByteArray("\x81\r\n")), QString(bad) + "\r\n");
    QCOMPARE(fromCp932(QByteArray("\x85\x40")), QString(bad)); // a pair the table lacks
    QCOMPARE(fromCp932(QByteArray("\xa1\xdf")), QStringLiteral("｡ﾟ"));
}

void TestProtocol::colourValues() {
    QCOMPARE(argbFromValue(255), 0xffff0000u); // red
    QCOMPARE(argbFromValue(16777215), 0xffffffffu);
    QCOMPARE(argbFromValue(65280), 0xff00ff00u);
    QCOMPARE(valueFromArgb(0xff0000ffu), 16711680); // blue
    QCOMPARE(valueFromArgb(0x80ff00ffu), 16711935); // alpha is not part of it
    QVERIFY(isColorValue(0) && isColorValue(16777215));
    QVERIFY(!isColorValue(-1) && !isColorValue(16777216));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
