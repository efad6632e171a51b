// The receiver's fast line reader must accept, reject and read exactly as the
// protocol's reader does; compared over many random lines built from the
// characters that matter (digits, separators, signs, blanks, points).
#include "cp932.h"
#include "drawingline.h"
#include "linefields.h"
#include "numbers.h"

#include <QRandomGenerator>
#include <QTest>

class TestLineFields : public QObject {
    Q_OBJECT
private slots:
    void numbersReadAsTheProtocolReadsThem();
    void linesAcceptedAndReadAsTheProtocolReadsThem();
    void textDecodesAsCp932();
};

namespace {

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength) {
    QString text;
    for (int n = random.bounded(maxLength + 1); n > 0; --n)
        text += alphabet[random.bounded(int(alphabet.size()))];
    return text;
}

} // namespace

void TestLineFields::numbersReadAsTheProtocolReadsThem() {
    const QStringList fixed{"",
                            " 120",
                            "-3",
                            "+7",
                            "-",
                            ".",
                            "-.5",
                            "2.5",
                            "3.5",
                            "-2.5",
                            "32767",
                            "32768",
                            "-32768",
                            "-32769",
                            "2147483647",
                            "2147483648",
                            "-2147483648",
                            "9999999999999999",
                            "123456789012345",
                            "1234567890123456",
                            "\t 42x",
                            "0042",
                            "1e5",
                            "00000000000000000001"};
    QRandomGenerator random(1);
    QStringList cases = fixed;
    for (int i = 0; i < 50000; ++i)
        cases += randomText(random, QStringLiteral("0123456789  \t-+.x,"), 20);
    for (const QString& text : cases) {
        QCOMPARE(linefields::readNumber(text), protocol::readNumber(QStringView(text)));
        QCOMPARE(linefields::readInt16(text), protocol::readInt16(QStringView(text)));
        QCOMPARE(linefields::readInt32(text), protocol::readInt32(QStringView(text)));
    }
}

void TestLineFields::linesAcceptedAndReadAsTheProtocolReadsThem() {
    const QStringList fixed{"3:2: 30, 40", "3:2:30,40:x", "3:2:1:2:3", "3:9:1",     "3:8.5:1",
                            "3:-1:1",      "3",           "3:2",       "3:",        ":",
                            "::",          ":::",         "::::",      "70000:3:0", "3:70000:0",
                            "-32768:8.4:", "x:y:z"};
    QRandomGenerator random(2);
    QStringList cases = fixed;
    for (int i = 0; i < 100000; ++i)
        cases += randomText(random, QStringLiteral("0123456789::: ,-.9"), 24);
    int accepted = 0;
    for (const QString& line : cases) {
        const auto fast = linefields::readLine(line);
        const auto reference = protocol::drawing::parseDownLine(line);
        QCOMPARE(fast.has_value(), reference.has_value());
        if (!fast)
            continue;
        ++accepted;
        QCOMPARE(fast->index, reference->index);
        QCOMPARE(fast->command, reference->command);
        QCOMPARE(fast->argument.toString(), reference->argument);
    }
    QVERIFY(accepted > 1000); // the random lines exercise both outcomes
}

void TestLineFields::textDecodesAsCp932() {
    QCOMPARE(linefields::decodeText("3:2: 30, 40\r\n"), QStringLiteral("3:2: 30, 40\r\n"));
    const QString japanese = QStringLiteral("名前①髙～");
    QCOMPARE(linefields::decodeText(protocol::toCp932(japanese)), japanese);
}

QTEST_GUILESS_MAIN(TestLineFields)
#include "tst_linefields.moc"
