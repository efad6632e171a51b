// The member's resend bookkeeping without sockets: numbering after a claim,
// what a pong and a session answer drop, the order of the resend (pen after
// the last line the server has, the lines it lacks, what was drawn offline),
// and the cap.
#include "drawingline.h"
#include "resendlog.h"

#include <QTest>

namespace dl = protocol::drawing;

class TestResendLog : public QObject {
    Q_OBJECT
private slots:
    void numbersCountEveryLineAfterTheAnswer();
    void resendStartsWithThePenTheServerLastHad();
    void linesOfAnUnansweredClaimGoAgain();
    void aGiveUpStartsTheOfflineLinesWithThePenTheyWereDrawnWith();
    void capStopsKeepingAndMarksTheLogIncomplete();
};

// Lines sent before the answer are numbered from the answer on; pings and
// requests count but are not kept; a pong drops up to its number.
void TestResendLog::numbersCountEveryLineAfterTheAnswer() {
    ResendLog log;
    log.announced(255, 2);
    log.claimed();
    log.sent("7:snap t\r\n");        // 11
    log.sent(dl::penDownLine(1, 1)); // 12
    log.sent(dl::drawLine(5, 5));    // 13
    log.answered(10);
    QCOMPARE(log.nextNumber(), quint64(14));
    QCOMPARE(log.keptCount(), 2);
    QVERIFY(!log.hasResend());
    log.sent("7:ping p\r\n");     // 14
    log.sent(dl::drawLine(9, 9)); // 15
    log.sent(dl::penUpLine());    // 16
    log.durable(13);
    QCOMPARE(log.keptCount(), 2);
    QCOMPARE(log.durablePen(), (ResendLog::Pen{255, 2, true, 5, 5}));
    log.durable(16);
    QCOMPARE(log.keptCount(), 0);
    QCOMPARE(log.durablePen(), (ResendLog::Pen{255, 2, false, 9, 9}));
    QVERIFY(log.empty());
}

// The connection broke mid-stroke: the next answer says the server took one
// line more than the last pong; the resend re-opens the stroke where that
// line left it and goes on with the rest and the offline strokes. The pen
// announced on the new connection does not stand for the old one's.
void TestResendLog::resendStartsWithThePenTheServerLastHad() {
    ResendLog log;
    log.announced(100, 1);
    log.claimed();
    log.answered(0);
    log.sent(dl::colorLine(7));      // 1
    log.sent(dl::penDownLine(2, 3)); // 2
    log.sent(dl::drawLine(4, 5));    // 3
    log.sent(dl::drawLine(6, 7));    // 4
    log.durable(2);
    log.keepOffline(dl::drawLine(8, 9));
    log.keepOffline(dl::penUpLine());
    log.keepOffline(dl::clearAllLine());
    log.keepOffline("8:member\r\n"); // not a drawing line: never kept

    log.announced(99, 3);
    log.claimed();
    log.sent("7:snap t\r\n"); // 4 (the server took 3 before the claim)
    log.answered(3);
    QVERIFY(log.hasResend());
    const QList<QByteArray> expected{dl::colorLine(7),   dl::widthLine(1),   dl::penDownLine(4, 5),
                                     dl::drawLine(6, 7), dl::drawLine(8, 9), dl::penUpLine(),
                                     dl::clearAllLine()};
    QCOMPARE(log.takeResend(), expected);
    QCOMPARE(log.nextNumber(), quint64(5));
    QVERIFY(!log.hasResend());
}

// A connection lost before its claim was answered: what it sent may not have
// arrived, so it goes after the next answer, before the offline lines.
void TestResendLog::linesOfAnUnansweredClaimGoAgain() {
    ResendLog log;
    log.announced(0, 0);
    log.claimed();
    log.sent(dl::penDownLine(1, 2));
    log.keepOffline(dl::drawLine(3, 4));
    log.claimed();
    log.answered(0);
    const QList<QByteArray> expected{dl::colorLine(0), dl::widthLine(0), dl::penDownLine(1, 2),
                                     dl::drawLine(3, 4)};
    QCOMPARE(log.takeResend(), expected);
}

// No answer to the claim: the lines that went out count as arrived, so what
// was drawn offline goes on with the colour and the open stroke they left,
// not with the pen of the last pong.
void TestResendLog::aGiveUpStartsTheOfflineLinesWithThePenTheyWereDrawnWith() {
    ResendLog log;
    log.announced(1, 1);
    log.claimed();
    log.answered(0);
    log.sent(dl::colorLine(6));
    log.sent(dl::penDownLine(2, 2));
    log.sent(dl::drawLine(3, 3));
    log.keepOffline(dl::drawLine(4, 4));
    log.announced(1, 1);
    log.claimed();
    const QList<QByteArray> expected{dl::colorLine(6), dl::widthLine(1), dl::penDownLine(3, 3),
                                     dl::drawLine(4, 4)};
    QCOMPARE(log.giveUp(), expected);
    QVERIFY(log.empty());
}

void TestResendLog::capStopsKeepingAndMarksTheLogIncomplete() {
    ResendLog log;
    log.announced(0, 0);
    log.claimed();
    log.answered(0);
    for (qsizetype i = 0; i < ResendLog::MaxLines - 1; ++i)
        log.sent(dl::drawLine(int(i % 1000), 1));
    log.keepOffline(dl::drawLine(1, 2));
    QVERIFY(!log.incomplete());
    log.keepOffline(dl::drawLine(3, 4));
    QVERIFY(log.incomplete());
    QCOMPARE(log.keptCount() + log.offlineCount(), ResendLog::MaxLines);
    // Room again once the server has them; the mark stays until a shared
    // picture is taken (the canvas still holds a line nobody keeps).
    log.durable(quint64(ResendLog::MaxLines));
    log.keepOffline(dl::drawLine(5, 6));
    QCOMPARE(log.offlineCount(), 2);
    QVERIFY(log.incomplete());
    log.pictureTaken();
    QVERIFY(!log.incomplete());
}

QTEST_GUILESS_MAIN(TestResendLog)
#include "tst_resendlog.moc"
