// The shared picture as it travels on command 7: a board encoded by the
// server's encoder and read back by the asker's reader comes out with the
// same pixels and pens; anything malformed, out of order or oversized is
// dropped whole without touching what was there.
#include "board.h"
#include "snapshot.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTest>

using boardsnapshot::Reader;

namespace {

// The reply block split into the arguments the reader gets (text after "0:7:").
QList<QString> arguments(const QByteArray& reply) {
    QList<QString> out;
    for (const QByteArray& line : reply.split('\n')) {
        if (line.isEmpty())
            continue;
        Q_ASSERT(line.startsWith("0:7:") && line.endsWith('\r'));
        out.append(QString::fromLatin1(line.mid(4).chopped(1)));
    }
    return out;
}

Reader::Event feedAll(Reader& reader, const QList<QString>& args) {
    Reader::Event last;
    for (const QString& arg : args) {
        last = reader.feed(arg);
        if (last.kind != Reader::Event::None)
            return last;
    }
    return last;
}

// The checksum the way a browser page computes it, from QImage::pixel.
quint32 referenceChecksum(const QImage& image) {
    quint32 h = 2166136261u;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const quint32 v =
                quint32(qRed(p)) + 256u * quint32(qGreen(p)) + 65536u * quint32(qBlue(p));
            h = (h ^ v) * 16777619u;
        }
    return h;
}

void drawSketch(Board& board) {
    board.applyLine(u"3:4: 255");
    board.applyLine(u"3:5: 2");
    board.applyLine(u"3:1: 100, 100");
    board.applyLine(u"3:2: 400, 300");
    board.applyLine(u"5:4:16711680");
    board.applyLine(u"5:1:-20,700");
    board.applyLine(u"5:2:900,650");
    board.applyLine(u"5:6: 300, 200"); // eraser
}

void fillNoise(Board& board) {
    QImage noise(Board::Width, Board::Height, QImage::Format_RGB32);
    QRandomGenerator rng(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = 0xff000000u | rng.generate();
    }
    board.replace(noise, board.pens());
}

QByteArray pngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

// A well-formed reply block around arbitrary PNG bytes and checksum.
QList<QString> handMade(const QByteArray& png, quint32 sum, const QString& tok = "t1") {
    const QString b64 = QString::fromLatin1(png.toBase64());
    QList<QString> args;
    const int chunks = int((b64.size() + 47999) / 48000);
    args << QString("board %1 1600 1200 %2 %3").arg(tok).arg(png.size()).arg(chunks);
    for (int c = 0; c < chunks; ++c)
        args << QString("data %1 %2").arg(tok, b64.mid(c * 48000, 48000));
    for (int i = 0; i < Board::Slots; ++i)
        args << QString("pen %1 %2 0 0 0 0").arg(tok).arg(i);
    args << QString("end %1 %2").arg(tok).arg(sum);
    return args;
}

} // namespace

class TestSnapshot : public QObject {
    Q_OBJECT
private slots:
    void checksumFollowsTheAgreedFormula();
    void roundTripKeepsPixelsAndPens_data();
    void roundTripKeepsPixelsAndPens();
    void encodedPictureFollowsTheBoard();
    void clearAllCostsWhatWasDrawn();
    void requestsNeedTheExactForm();
    void brokenRepliesAreDroppedWhole_data();
    void brokenRepliesAreDroppedWhole();
    void picturesOfAnotherSizeOrWrongSumAreRefused();
    void sumRepliesAndForeignLines();
};

void TestSnapshot::checksumFollowsTheAgreedFormula() {
    Board board;
    QCOMPARE(boardsnapshot::checksum(board.image()), referenceChecksum(board.image()));
    drawSketch(board);
    QCOMPARE(boardsnapshot::checksum(board.image()), referenceChecksum(board.image()));
    // Order matters: the same pixels elsewhere give another sum.
    Board moved;
    moved.lineWrite(0, 0, 0, 0, 0, 0);
    Board other;
    other.lineWrite(1, 0, 1, 0, 0, 0);
    QVERIFY(boardsnapshot::checksum(moved.image()) != boardsnapshot::checksum(other.image()));
}

void TestSnapshot::roundTripKeepsPixelsAndPens_data() {
    QTest::addColumn<int>("picture");
    QTest::newRow("blank") << 0;
    QTest::newRow("sketch (palette)") << 1;
    QTest::newRow("noise (RGB, many chunks)") << 2;
}

void TestSnapshot::roundTripKeepsPixelsAndPens() {
    QFETCH(int, picture);
    Board board;
    if (picture >= 1)
        drawSketch(board);
    if (picture == 2)
        fillNoise(board);
    boardsnapshot::Encoder encoder(board);
    const QByteArray reply = encoder.snapshotReply("Ab9");
    const QList<QString> args = arguments(reply);
    for (const QString& arg : args)
        QVERIFY(arg.size() <= 48000 + 10);

    Reader reader;
    const Reader::Event event = feedAll(reader, args);
    QCOMPARE(event.kind, Reader::Event::Snapshot);
    QCOMPARE(event.token, QStringLiteral("Ab9"));
    QCOMPARE(event.picture, board.image());
    QVERIFY(event.pens == board.pens());
    QCOMPARE(event.checksum, referenceChecksum(board.image()));
    QVERIFY(!reader.isPending());

    Board copy;
    copy.replace(event.picture, event.pens);
    QCOMPARE(copy.image(), board.image());
    // Later lines land the same on both: the pens came along.
    board.applyLine(u"3:2: 50, 60");
    copy.applyLine(u"3:2: 50, 60");
    QCOMPARE(copy.image(), board.image());
}

void TestSnapshot::encodedPictureFollowsTheBoard() {
    Board board;
    boardsnapshot::Encoder encoder(board);
    const QByteArray before = encoder.snapshotReply("a");
    QCOMPARE(encoder.snapshotReply("a"), before);
    board.applyLine(u"2:1: 10, 10");
    board.applyLine(u"2:2: 20, 10");
    Reader reader;
    const Reader::Event event = feedAll(reader, arguments(encoder.snapshotReply("b")));
    QCOMPARE(event.kind, Reader::Event::Snapshot);
    QCOMPARE(event.picture, board.image());
    QCOMPARE(encoder.sumReply("c"),
             "0:7:sum c " + QByteArray::number(referenceChecksum(board.image())) + "\r\n");
    // A pen change alone reaches the next snapshot too.
    board.applyLine(u"4:1: 77, 88");
    QVERIFY(feedAll(reader, arguments(encoder.snapshotReply("d"))).pens[4].x == 77);
}

// A flood of clear-alls must not cost a full-picture fill each, nor make
// every cached encoding stale: a blank board stays as it is, and a clear
// fills what was painted since the last one.
void TestSnapshot::clearAllCostsWhatWasDrawn() {
    Board board;
    QList<QRect> reported;
    board.setPaintObserver([&](const QRect& area) { reported.append(area); });
    board.clearAll();
    QCOMPARE(board.revision(), quint64(0));
    QVERIFY(reported.isEmpty());

    board.applyLine(u"2:1: 10, 10");
    board.applyLine(u"2:2: 50, 20");
    board.applyLine(u"2:5: 3");
    board.applyLine(u"2:6: 900, 700");
    const quint64 painted = board.revision();
    const QRect drawn = reported.at(0) | reported.at(1);
    reported.clear();
    board.clearAll();
    QCOMPARE(board.revision(), painted + 1);
    QCOMPARE(reported, QList<QRect>{drawn});
    QCOMPARE(board.image(), Board().image());
    board.clearAll();
    QCOMPARE(board.revision(), painted + 1);
}

void TestSnapshot::requestsNeedTheExactForm() {
    using boardsnapshot::parseRequest;
    QCOMPARE(parseRequest("7:snap x1Y2")->token, QByteArray("x1Y2"));
    QCOMPARE(parseRequest("7:sum 0123456789abcdef")->kind, boardsnapshot::Request::Sum);
    for (const char* bad : {"7:snap", "7:snap ", "7:snap a b", "7:snap a-b", "7: snap a",
                            "07:snap a", "7:sum 0123456789abcdefX", "7:board a", "7:snap \xe3\x81"})
        QVERIFY2(!parseRequest(bad), bad);
}

void TestSnapshot::brokenRepliesAreDroppedWhole_data() {
    QTest::addColumn<int>("fault");
    QTest::newRow("tampered data") << 0;
    QTest::newRow("data line too long") << 1;
    QTest::newRow("pen out of order") << 2;
    QTest::newRow("pen line missing") << 3;
    QTest::newRow("foreign token inside") << 4;
    QTest::newRow("sum reply inside") << 5;
    QTest::newRow("more data than announced") << 6;
    QTest::newRow("pen before data ends") << 7;
    QTest::newRow("pen value beyond 16 bits") << 8;
    QTest::newRow("oversized announcement") << 9;
}

void TestSnapshot::brokenRepliesAreDroppedWhole() {
    QFETCH(int, fault);
    Board board;
    drawSketch(board);
    fillNoise(board); // several data chunks
    boardsnapshot::Encoder encoder(board);
    QList<QString> args = arguments(encoder.snapshotReply("tok"));
    QVERIFY(args.size() > 3 + 21);
    const int firstPen = int(args.size()) - 22;
    switch (fault) {
    case 0:
        args[2][100] = args[2][100] == u'A' ? u'B' : u'A';
        break;
    case 1:
        args[1] += u'A';
        break;
    case 2:
        args.swapItemsAt(firstPen, firstPen + 1);
        break;
    case 3:
        args.removeAt(firstPen + 5);
        break;
    case 4:
        args[2].replace("data tok", "data tol");
        break;
    case 5:
        args.insert(2, "sum tok 5");
        break;
    case 6:
        args.insert(2, args[1]);
        break;
    case 7:
        args.swapItemsAt(firstPen - 1, firstPen);
        break;
    case 8:
        args[firstPen + 3] = "pen tok 3 40000 0 0 0";
        break;
    case 9:
        args = {"board tok 1600 1200 200000000 5000"};
        break;
    }
    Reader reader;
    QList<Reader::Event::Kind> kinds;
    for (const QString& arg : args)
        if (const auto e = reader.feed(arg); e.kind != Reader::Event::None)
            kinds << e.kind;
    QVERIFY(!kinds.contains(Reader::Event::Snapshot));
    QVERIFY(kinds.contains(Reader::Event::Rejected));
    QVERIFY(!reader.isPending());
    // The reader is not stuck: the next good reply goes through.
    const Reader::Event good = feedAll(reader, arguments(encoder.snapshotReply("next")));
    QCOMPARE(good.kind, Reader::Event::Snapshot);
    QCOMPARE(good.picture, board.image());
}

void TestSnapshot::picturesOfAnotherSizeOrWrongSumAreRefused() {
    Board board;
    drawSketch(board);
    const quint32 sum = boardsnapshot::checksum(board.image());
    Reader reader;
    // Consistent headers around a PNG of another size.
    QImage small(1600, 1199, QImage::Format_RGB32);
    small.fill(Qt::white);
    QCOMPARE(feedAll(reader, handMade(pngOf(small), sum)).kind, Reader::Event::Rejected);
    // Bytes that are no PNG at all.
    QCOMPARE(feedAll(reader, handMade(QByteArray(5000, 'x'), sum)).kind, Reader::Event::Rejected);
    // The right picture with the wrong checksum.
    QCOMPARE(feedAll(reader, handMade(pngOf(board.image()), sum + 1)).kind,
             Reader::Event::Rejected);
    // A PNG with alpha, lossless: accepted with the right sum.
    const Reader::Event ok =
        feedAll(reader, handMade(pngOf(board.image().convertToFormat(QImage::Format_ARGB32)), sum));
    QCOMPARE(ok.kind, Reader::Event::Snapshot);
    QCOMPARE(ok.picture, board.image());
    // A header announcing another board size is refused at once.
    QCOMPARE(reader.feed(u"board t 800 600 100 1").kind, Reader::Event::Rejected);
}

void TestSnapshot::sumRepliesAndForeignLines() {
    Reader reader;
    const Reader::Event sum = reader.feed(u"sum q1 4294967295");
    QCOMPARE(sum.kind, Reader::Event::Sum);
    QCOMPARE(sum.checksum, 4294967295u);
    QCOMPARE(sum.token, QStringLiteral("q1"));
    for (const char16_t* ignored : {u"sum q1 4294967296", u"sum q1 -1", u"sum q1", u"snap abc",
                                    u"data abc QUJD", u"end abc 1", u"pen abc 0 0 0 0 0", u""})
        QCOMPARE(reader.feed(ignored).kind, Reader::Event::None);
}

QTEST_GUILESS_MAIN(TestSnapshot)
#include "tst_snapshot.moc"
