// The drawing lines the main window's strokes and pen changes become on a
// connected drawing channel, wired as the client wires them. A QTcpServer on
// loopback stands in for the relay server.
#include "canvas.h"
#include "colorcell.h"
#include "drawingchannel.h"
#include "formfixture.h"
#include "picturebox.h"
#include "sketoraclient.h"
#include "socketendpoint.h"

#include <QSlider>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Accepts the channel's connection and hands out what arrives line by line.
class LineServer {
public:
    // Connected once the pen announcement (black, width 0) has arrived.
    bool connect(DrawingChannel& channel) {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            return false;
        if (!channel.socket().connectTo(QStringLiteral("127.0.0.1"), m_server.serverPort()))
            return false;
        if (!QTest::qWaitFor([&] { return m_server.hasPendingConnections(); }))
            return false;
        m_peer = m_server.nextPendingConnection();
        return QTest::qWaitFor([&] { return channel.isConnected(); }) &&
               lines(2) == QList<QByteArray>{"4: 0\r\n", "5: 0\r\n"};
    }

    // The next n lines, each with its "\r\n"; fewer if they do not come.
    QList<QByteArray> lines(int n) {
        QList<QByteArray> out;
        const bool complete = QTest::qWaitFor([&] {
            m_buffer += m_peer->readAll();
            return m_buffer.count("\r\n") >= n;
        });
        if (!complete)
            qWarning("only %lld of %d lines arrived", qlonglong(m_buffer.count("\r\n")), n);
        while (out.size() < n) {
            const qsizetype end = m_buffer.indexOf("\r\n");
            if (end < 0)
                break;
            out << m_buffer.left(end + 2);
            m_buffer.remove(0, end + 2);
        }
        return out;
    }
    QByteArray line() { return lines(1).value(0); }

    // Whatever arrived, without waiting.
    QByteArray pending() {
        m_peer->waitForReadyRead(0);
        m_buffer += m_peer->readAll();
        return m_buffer;
    }

    QTcpSocket* peer() const { return m_peer; }

private:
    QTcpServer m_server;
    QTcpSocket* m_peer = nullptr;
    QByteArray m_buffer;
};

} // namespace

class TestLines : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pencilStroke();
    void eraserAndOtherButtons();
    void handToolSendsOnlyPressAndRelease();
    void restartAfterCtrlHasNoBlanks();
    void pickerSendsColoursFromInsideOnly();
    void paletteAndColourDialog();
    void widthSliderAndMenuSendOnce();
    void clearAll();
    void nothingWhenNotConnected();

private:
    // Something that is known to send exactly "5: 0" next, to prove that
    // nothing came before it.
    void sendMarker() { m_f->form->controls().menu.mWdt[0]->trigger(); }

    std::unique_ptr<FormFixture> m_f;
    std::unique_ptr<DrawingChannel> m_channel;
    std::unique_ptr<LineServer> m_server;
};

void TestLines::init() {
    m_f = std::make_unique<FormFixture>();
    Form1& form = *m_f->form;
    m_channel = std::make_unique<DrawingChannel>(DrawingChannel::Parts{form.canvas(), form, {}});
    SketoraClient::sendWindowDrawing(form, *m_channel);
    m_server = std::make_unique<LineServer>();
    QVERIFY(m_server->connect(*m_channel));
}

void TestLines::cleanup() {
    m_channel.reset();
    m_server.reset();
    m_f.reset();
}

void TestLines::pencilStroke() {
    FormFixture& f = *m_f;
    f.form->controls().menu.mPencil->trigger();
    f.press({10, 20});
    QCOMPARE(m_server->line(), QByteArray("1: 10, 20\r\n"));
    f.move({15, 20});
    QCOMPARE(m_server->line(), QByteArray("2: 15, 20\r\n"));
    f.move({-3, 7});
    QCOMPARE(m_server->line(), QByteArray("2:-3, 7\r\n"));
    f.move({1700, 1250});
    QCOMPARE(m_server->line(), QByteArray("2: 1700, 1250\r\n"));
    f.release({1700, 1250});
    QCOMPARE(m_server->line(), QByteArray("0:0\r\n"));
    QCOMPARE(f.form->canvas().pixelValue(12, 20), 0); // painted locally as well
}

void TestLines::eraserAndOtherButtons() {
    FormFixture& f = *m_f;
    f.form->controls().menu.mEraser->trigger();
    f.press({5, 6});
    f.move({7, 8});
    f.release({7, 8});
    QCOMPARE(m_server->lines(3), (QList<QByteArray>{"1: 5, 6\r\n", "6: 7, 8\r\n", "0:0\r\n"}));
    // The right button: press and release lines, moves send nothing.
    f.press({60, 60}, Qt::RightButton);
    f.move({70, 70});
    f.release({70, 70}, Qt::RightButton);
    sendMarker();
    QCOMPARE(m_server->lines(3), (QList<QByteArray>{"1: 60, 60\r\n", "0:0\r\n", "5: 0\r\n"}));
}

void TestLines::handToolSendsOnlyPressAndRelease() {
    FormFixture& f = *m_f;
    f.press({200, 200});
    f.move({150, 150});
    f.move({100, 120});
    f.release({100, 120});
    sendMarker();
    QCOMPARE(m_server->lines(3), (QList<QByteArray>{"1: 200, 200\r\n", "0:0\r\n", "5: 0\r\n"}));
    // The grabbed point (200, 200) follows the pointer: it now sits where the
    // pointer is, over canvas pixel (100, 120) of the already moved canvas.
    QCOMPARE(f.form->controls().pCanvas->pos(), QPoint(-150, -130));
}

void TestLines::restartAfterCtrlHasNoBlanks() {
    FormFixture& f = *m_f;
    f.form->controls().menu.mPencil->trigger();
    f.press({100, 100});
    f.move({120, 100});
    QTest::keyPress(f.canvas(), Qt::Key_Control);
    f.move({110, 90});
    QTest::keyRelease(f.canvas(), Qt::Key_Control);
    f.move({200, 200});
    f.move({210, 200});
    f.release({210, 200});
    QCOMPARE(m_server->lines(5),
             (QList<QByteArray>{"1: 100, 100\r\n", "2: 120, 100\r\n", "1:200,200\r\n",
                                "2: 210, 200\r\n", "0:0\r\n"}));
}

void TestLines::pickerSendsColoursFromInsideOnly() {
    FormFixture& f = *m_f;
    f.form->canvas().lineWrite(30, 30, 30, 30, 0, 255);
    f.form->controls().menu.mSpoit->trigger();
    f.press({30, 30});
    f.move({31, 30});
    f.move({-1, 30}); // outside the drawing area: nothing to pick, nothing sent
    f.release({-1, 30});
    f.press({30, 1200});
    f.release({30, 1200});
    sendMarker();
    QCOMPARE(m_server->lines(5), (QList<QByteArray>{"4: 255\r\n", "4: 16777215\r\n", "0:0\r\n",
                                                    "0:0\r\n", "5: 0\r\n"}));
    QCOMPARE(f.form->foreColor(), Canvas::Background);
}

void TestLines::paletteAndColourDialog() {
    FormFixture& f = *m_f;
    Form1& w = *f.form;
    QTest::mouseClick(w.controls().lColPal[1], Qt::LeftButton);
    QTest::mouseClick(w.controls().lColPal[1], Qt::LeftButton); // the same cell again sends again
    QCOMPARE(m_server->lines(2), (QList<QByteArray>{"4: 65280\r\n", "4: 65280\r\n"}));

    f.prompts.colorAnswers = {QColor(0, 0, 128)};
    QTest::mouseClick(w.controls().lColPal[3], Qt::LeftButton);
    QTest::mouseDClick(w.controls().lColPal[3], Qt::LeftButton);
    QTest::mouseRelease(w.controls().lColPal[3], Qt::LeftButton);
    QCOMPARE(m_server->lines(2), (QList<QByteArray>{"4: 16777215\r\n", "4: 8388608\r\n"}));

    f.prompts.colorAnswers = {std::nullopt, QColor(1, 0, 0), std::nullopt};
    QTest::mouseClick(w.controls().lColPal[0], Qt::LeftButton);
    QTest::mouseDClick(w.controls().lColPal[0], Qt::LeftButton); // cancelled
    QTest::mouseRelease(w.controls().lColPal[0], Qt::LeftButton);
    w.controls().menu.mColor->trigger();
    w.controls().menu.mColor->trigger(); // cancelled
    sendMarker();
    QCOMPARE(m_server->lines(3), (QList<QByteArray>{"4: 255\r\n", "4: 1\r\n", "5: 0\r\n"}));

    m_channel->sendColor(-1); // the announcement after connecting sends as given
    QCOMPARE(m_server->line(), QByteArray("4:-1\r\n"));
}

void TestLines::widthSliderAndMenuSendOnce() {
    FormFixture& f = *m_f;
    f.form->controls().sWidth->setValue(3);
    QCOMPARE(m_server->line(), QByteArray("5: 3\r\n"));
    f.form->controls().menu.mWdt[2]->trigger();
    f.form->controls().menu.mWdt[2]->trigger();
    f.form->controls().menu.mWdt[0]->trigger();
    QCOMPARE(m_server->lines(3), (QList<QByteArray>{"5: 2\r\n", "5: 2\r\n", "5: 0\r\n"}));
    m_channel->sendSize(1);
    QCOMPARE(m_server->line(), QByteArray("5: 1\r\n"));
}

void TestLines::clearAll() {
    FormFixture& f = *m_f;
    f.prompts.questionAnswers = {false, true};
    f.form->controls().menu.mClear->trigger();
    f.form->controls().menu.mClear->trigger();
    sendMarker();
    QCOMPARE(m_server->lines(2), (QList<QByteArray>{"3: 0, 0\r\n", "5: 0\r\n"}));
}

void TestLines::nothingWhenNotConnected() {
    FormFixture& f = *m_f;
    m_channel->socket().close();
    QVERIFY(
        QTest::qWaitFor([&] { return m_server->peer()->state() != QTcpSocket::ConnectedState; }));
    f.prompts.questionAnswers = {true};
    f.prompts.colorAnswers = {QColor(9, 9, 9)};
    f.form->controls().menu.mPencil->trigger();
    f.press({10, 10});
    f.move({20, 10});
    f.release({20, 10});
    QTest::mouseClick(f.form->controls().lColPal[2], Qt::LeftButton);
    f.form->controls().menu.mColor->trigger();
    f.form->controls().menu.mWdt[3]->trigger();
    f.form->controls().menu.mClear->trigger();
    QVERIFY(m_server->pending().isEmpty());
    QCOMPARE(f.form->foreColor(), 9 + 9 * 256 + 9 * 65536); // local changes still happen
    QCOMPARE(f.form->penWidth(), qint16(3));
}

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
