// The readers take shortcuts for the common case (plain integers, ASCII
// lines, one pass over a line); these tests hold them to straightforward
// reference readings written out here, over edge cases and many random
// inputs built from the characters that matter.
#include "cp932.h"
#include "drawingline.h"
#include "numbers.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>

using namespace protocol;

namespace {

// Blanks, optional sign, digits with an optional fraction, converted by
// strtod (the test runs in the C locale); no number reads as 0.
double referenceNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    QByteArray digits;
    bool any = false;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
        digits += char(text[i++].unicode());
        any = true;
    }
    if (i < text.size() && text[i] == u'.') {
        digits += '.';
        ++i;
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
            digits += char(text[i++].unicode());
            any = true;
        }
    }
    if (!any)
        return 0.0;
    const double magnitude = std::strtod(digits.constData(), nullptr);
    return negative ? -magnitude : magnitude;
}

template <typename Int> std::optional<Int> referenceRound(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // to nearest, ties to even
    if (rounded < std::numeric_limits<Int>::min() || rounded > std::numeric_limits<Int>::max())
        return std::nullopt;
    return Int(rounded);
}

// Equal as stored: -0.0 and 0.0 differ, as they would for a caller that
// divides or prints.
bool sameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A downstream line as the reference reads it.
struct ReferenceLine {
    qint16 index = 0;
    qint16 command = 0;
    QString argument;
};

// The line split at every ':' first, then judged.
std::optional<ReferenceLine> referenceDownLine(const QString& line) {
    const QStringList fields = line.split(u':');
    if (fields.size() >= 2 && referenceNumber(fields[1]) >= 9)
        return std::nullopt;
    if (fields.size() < 3 || fields.size() > 4)
        return std::nullopt;
    const auto index = referenceRound<qint16>(referenceNumber(fields[0]));
    const auto command = referenceRound<qint16>(referenceNumber(fields[1]));
    if (!index || !command)
        return std::nullopt;
    return ReferenceLine{*index, *command, fields[2]};
}

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength) {
    QString text;
    for (int n = random.bounded(maxLength + 1); n > 0; --n)
        text += alphabet[random.bounded(int(alphabet.size()))];
    return text;
}

} // namespace

class TestReaders : public QObject {
    Q_OBJECT
private slots:
    void numbersReadAsTheReference();
    void downLinesReadAsTheReference();
    void pointsSplitAsTheReference();
    void decodingMatchesTheConverter();
};

void TestReaders::numbersReadAsTheReference() {
    QCOMPARE(std::fegetround(), FE_TONEAREST);
    QStringList cases{"", " 120", "-3", "+7", "-", "+", ".", "-.", "-.5", "-0", "-0.0", "0.5",
                      "1.5", "2.5", "-2.5", "3.5", "32767", "32768", "32767.5", "-32768",
                      "-32768.5", "-32769", "2147483647", "2147483648", "-2147483648",
                      "-2147483649", "2147483647.5", "\t 42x", "0042", "1e5", "12.", "1.2.3",
                      // around the 18 significant digits a 64-bit integer holds
                      "123456789012345678", "1234567890123456789", "-999999999999999999",
                      "9999999999999999999", "99999999999999999999", "-123456789012345678901",
                      "00000000000000000000000001", "18446744073709551617",
                      "9007199254740993",   // 2^53 + 1: rounds to even as a double
                      "18014398509481987"}; // 2^54 + 3
    cases += QString(400, u'9');            // beyond double: infinity, fits nothing
    cases += QStringLiteral("0.") + QString(400, u'0') + u'1'; // below double: zero

    QRandomGenerator random(1);
    for (int i = 0; i < 60000; ++i)
        cases += randomText(random, QStringLiteral("0123456789000  \t-+.x,"), 24);
    for (int i = 0; i < 5000; ++i) // long runs of digits
        cases += randomText(random, QStringLiteral("-0123456789"), 30);
    for (const QString& text : cases) {
        const double expected = referenceNumber(text);
        const QByteArray bytes = text.toLatin1();
        QVERIFY2(sameDouble(readNumber(QStringView(text)), expected), qPrintable(text));
        QVERIFY2(sameDouble(readNumber(QByteArrayView(bytes)), expected), qPrintable(text));
        QCOMPARE(readInt16(QStringView(text)), referenceRound<qint16>(expected));
        QCOMPARE(readInt32(QStringView(text)), referenceRound<qint32>(expected));
        QCOMPARE(readInt16(QByteArrayView(bytes)), referenceRound<qint16>(expected));
        QCOMPARE(readInt32(QByteArrayView(bytes)), referenceRound<qint32>(expected));
        QCOMPARE(roundToInt16(expected), referenceRound<qint16>(expected));
        QCOMPARE(roundToInt32(expected), referenceRound<qint32>(expected));
    }
    // Digits beyond ASCII are not digits.
    QCOMPARE(readNumber(u"１２"), 0.0);
    QCOMPARE(readNumber(QByteArrayView("\x82\x4f")), 0.0);
}

void TestReaders::downLinesReadAsTheReference() {
    QStringList cases{"3:2: 30, 40", "3:2:30,40:x", "3:2:1:2:3", "3:9:1", "3:8.5:1",
                      "3:8.4:1",     "3:-1:1",      "3",         "3:2",   "3:",
                      ":",           "::",          ":::",       "::::",  "70000:3:0",
                      "3:70000:0",   "-32768:8.4:", "x:y:z",     "3:2:",  " 3 : 2 : 1"};
    QRandomGenerator random(2);
    for (int i = 0; i < 100000; ++i)
        cases += randomText(random, QStringLiteral("0123456789::: ,-.9"), 24);
    int accepted = 0;
    for (const QString& line : cases) {
        const auto expected = referenceDownLine(line);
        const auto view = drawing::readDownLine(line);
        QCOMPARE(view.has_value(), expected.has_value());
        if (!expected)
            continue;
        ++accepted;
        QCOMPARE(view->index, expected->index);
        QCOMPARE(view->command, expected->command);
        QCOMPARE(view->argument.toString(), expected->argument);
    }
    QVERIFY(accepted > 1000); // the random lines reach both outcomes
}

void TestReaders::pointsSplitAsTheReference() {
    QRandomGenerator random(3);
    for (int i = 0; i < 20000; ++i) {
        const QString argument = randomText(random, QStringLiteral("0123 ,,-"), 12);
        const QStringList parts = argument.split(u',');
        const drawing::PointText point = drawing::splitPoint(argument);
        QCOMPARE(point.x.toString(), parts[0]);
        QCOMPARE(point.y.has_value(), parts.size() > 1);
        if (point.y)
            QCOMPARE(point.y->toString(), parts[1]);
    }
}

void TestReaders::decodingMatchesTheConverter() {
    // ASCII of every length around the eight-byte steps, then the same with
    // one CP932 character at each position.
    const QString japanese = QStringLiteral("髙");
    const QByteArray wide = toCp932(japanese);
    QCOMPARE(wide.size(), 2);
    for (int length = 0; length <= 19; ++length) {
        QByteArray ascii;
        for (int i = 0; i < length; ++i)
            ascii += char('0' + i % 10);
        QCOMPARE(drawing::decodeText(ascii), QString::fromLatin1(ascii));
        QCOMPARE(drawing::decodeText(ascii), fromCp932(ascii));
        for (int at = 0; at <= length; ++at) {
            const QByteArray mixed = ascii.left(at) + wide + ascii.mid(at);
            QCOMPARE(drawing::decodeText(mixed), fromCp932(mixed));
        }
    }
    QCOMPARE(drawing::decodeText("3:2: 30, 40\r\n"), QStringLiteral("3:2: 30, 40\r\n"));
    QCOMPARE(drawing::decodeText(toCp932(QStringLiteral("名前①～"))), QStringLiteral("名前①～"));
}

QTEST_GUILESS_MAIN(TestReaders)
#include "tst_readers.moc"
