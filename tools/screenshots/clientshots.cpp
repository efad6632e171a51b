// The client half of the user guide's screenshots: two whole clients connect
// to the relay server whose ports are given, draw one picture through their
// canvases (pointer events, the normal send path, so the other client paints
// every stroke from the network) and talk in the chat window. Then the main
// window, the chat window, the connect dialog and the version window are
// captured.
#include "clientshots.h"
#include "addresshistory.h"
#include "appsetup.h"
#include "canvaswidget.h"
#include "chatcontroller.h"
#include "colorcell.h"
#include "drawingchannel.h"
#include "form1.h"
#include "form2.h"
#include "form3.h"
#include "form4.h"
#include "prompts.h"
#include "shotsupport.h"
#include "sketoraclient.h"
#include "socketendpoint.h"
#include "statusline.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtMath>
#include <memory>

using client::Form1;

namespace {

// Nobody sits at these clients: questions are answered OK, dialogs cancelled.
class QuietPrompts : public Prompts {
public:
    bool question(QWidget*, const QString&, const QString&) override { return true; }
    void message(QWidget*, const QString& text, const QString&) override {
        shots::fail(QStringLiteral("unexpected message box: ") + text);
    }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override { return std::nullopt; }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&,
                                        const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> serverAddress(QWidget*, const QString&, const QStringList&) override {
        return std::nullopt;
    }
    std::optional<QString> newName(QWidget*, const QString&) override { return std::nullopt; }
};

// Palette cells as the default settings file has them.
enum Cell { Red = 0, Green = 1, Blue = 2, Cyan = 4, Yellow = 6, Black = 7 };

struct Person {
    QuietPrompts prompts;
    std::unique_ptr<SketoraClient> client;

    Person(const QString& settingsDir, ConnectionControl::Ports ports) {
        client = std::make_unique<SketoraClient>(
            SketoraClient::Options{&prompts, ports, settingsDir, nullptr});
        client->start();
        client->status().tMem().setInterval(100); // the member count shows at once
    }
    Form1& main() { return client->form1(); }

    // Chat name and remark colour, as the settings file would give them.
    void introduce(const QString& name, qint32 colour) {
        client->settings().confMyName = name;
        client->settings().confFontColor = colour;
    }

    void pen(int cell, int width) {
        QTest::mouseClick(main().controls().lColPal[cell], Qt::LeftButton);
        main().controls().sWidth->setValue(width);
    }
    // One stroke through the canvas pixels, as a person drags the mouse.
    void stroke(const QList<QPoint>& points) {
        CanvasWidget* canvas = main().controls().pCanvas;
        QTest::mousePress(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(points.first()));
        for (qsizetype i = 1; i < points.size(); ++i)
            QTest::mouseMove(canvas, CanvasWidget::widgetPos(points[i]));
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(points.last()));
    }
    void say(const QString& remark) {
        Form4* chat = client->chat().chatWindow();
        chat->text2()->setPlainText(remark);
        chat->command1()->click();
    }
    QString conversation() { return client->chat().chatWindow()->text1()->toPlainText(); }
};

QList<QPoint> circle(QPoint centre, int radius, int steps = 24) {
    QList<QPoint> points;
    for (int i = 0; i <= steps; ++i) {
        const double a = 2 * M_PI * i / steps;
        points << centre + QPoint(qRound(radius * std::cos(a)), qRound(radius * std::sin(a)));
    }
    return points;
}

// A house with a red roof, drawn by the first person.
void drawHouse(Person& p) {
    p.pen(Black, 1);
    p.stroke({{110, 230}, {110, 400}, {300, 400}, {300, 230}});
    p.stroke({{180, 400}, {180, 320}, {230, 320}, {230, 400}});
    p.pen(Blue, 1);
    p.stroke({{135, 260}, {170, 260}, {170, 295}, {135, 295}, {135, 260}});
    p.stroke({{245, 260}, {280, 260}, {280, 295}, {245, 295}, {245, 260}});
    p.pen(Red, 3);
    p.stroke({{90, 240}, {205, 140}, {320, 240}, {90, 240}});
}

// The sun, a tree, grass and a cloud, drawn by the second person.
void drawGarden(Person& p) {
    p.main().setPaletteColor(Yellow, 240 + 150 * 256); // an orange sun
    p.pen(Yellow, 3);
    p.stroke(circle({500, 95}, 38));
    for (int i = 0; i < 8; ++i) {
        const double a = 2 * M_PI * i / 8;
        const QPoint dir(qRound(std::cos(a) * 100), qRound(std::sin(a) * 100));
        p.stroke({QPoint(500, 95) + dir * 52 / 100, QPoint(500, 95) + dir * 75 / 100});
    }
    p.pen(Black, 2);
    p.stroke({{440, 400}, {440, 320}});
    p.pen(Green, 3);
    p.stroke(circle({440, 290}, 42));
    p.stroke({{20, 410}, {120, 404}, {260, 412}, {400, 405}, {600, 410}});
    p.pen(Cyan, 2);
    p.stroke({{70, 90}, {90, 65}, {125, 60}, {150, 75}, {180, 70}, {195, 95}, {70, 95}});
}

void connectBoth(Person& a, Person& b, const QDir& out) {
    // As people see it: the address used last, ready to connect again.
    shots::capture(&a.client->startupDialog(), out, QStringLiteral("connect-dialog.png"));
    for (Person* p : {&a, &b}) {
        p->client->startupDialog().Text1()->setText(QStringLiteral("127.0.0.1"));
        QTest::keyClick(p->client->startupDialog().Text1(), Qt::Key_Return);
        shots::waitFor(
            [p] {
                return p->client->drawing().isConnected() &&
                       p->client->textSocket().state() == net::SocketEndpoint::Connected;
            },
            QStringLiteral("the connection"));
    }
    shots::waitFor(
        [&] { return a.main().controls().lStatus->text() == QStringLiteral("Member : 2人"); },
        QStringLiteral("the member count"));
}

void drawTogether(Person& a, Person& b) {
    for (Person* p : {&a, &b}) {
        p->main().resize(780, 560);
        p->main().controls().menu.mPencil->trigger();
    }
    // Strokes that cross are painted in arrival order: the second person
    // starts once the first one's house has arrived, as people do.
    const auto samePicture = [&] { return a.main().canvas().image() == b.main().canvas().image(); };
    drawHouse(a);
    shots::waitFor(samePicture, QStringLiteral("the house on both canvases"));
    drawGarden(b);
    shots::waitFor(samePicture, QStringLiteral("the garden on both canvases"));
    if (a.main().canvas().image().pixel(205, 140) != qRgb(255, 0, 0))
        shots::fail(QStringLiteral("the roof is not on the canvas"));
}

void talk(Person& a, Person& b) {
    for (Person* p : {&a, &b}) {
        p->main().controls().menu.mMember->trigger();
        // A remark reaches only those who joined before it.
        const QString joined =
            p->client->settings().confMyName + QStringLiteral(" さんが入室しました");
        shots::waitFor([&, joined] { return a.conversation().contains(joined); },
                       QStringLiteral("the join of ") + p->client->settings().confMyName);
    }
    const QList<std::pair<Person*, QString>> remarks = {
        {&a, QStringLiteral("こんにちは！家を描いたよ")},
        {&b, QStringLiteral("いいね、太陽と木を足すね")},
        {&a, QStringLiteral("屋根は赤にしました")},
        {&b, QStringLiteral("あとで描画ログを保存しておきます")},
    };
    for (const auto& [speaker, text] : remarks) {
        speaker->say(text);
        shots::waitFor(
            [&, text = text] {
                return a.conversation().contains(text) && b.conversation().contains(text);
            },
            QStringLiteral("the remark ") + text);
    }
}

} // namespace

void takeClientShots(const QDir& out, quint16 drawingPort, quint16 textPort,
                     const std::function<void()>& whileConnected) {
    const ConnectionControl::Ports ports{drawingPort, textPort};
    QTemporaryDir work; // settings files of both people
    QDir(work.path()).mkpath(QStringLiteral("a"));
    QDir(work.path()).mkpath(QStringLiteral("b"));
    // The first person has connected before, to two servers.
    QFile history(QDir(work.filePath(QStringLiteral("a"))).filePath(AddressHistory::FileName));
    if (!history.open(QIODevice::WriteOnly) || history.write("192.168.1.10\n192.168.1.23\n") < 0)
        shots::fail(QStringLiteral("cannot write ") + history.fileName());
    history.close();
    const QString before = QDir::currentPath();
    QDir::setCurrent(work.path());
    {
        Person a(work.filePath(QStringLiteral("a")), ports);
        Person b(work.filePath(QStringLiteral("b")), ports);
        a.introduce(QStringLiteral("さくら"), 200 + 40 * 256 + 90 * 65536);
        b.introduce(QStringLiteral("たろう"), 30 + 80 * 256 + 200 * 65536);

        connectBoth(a, b, out);
        drawTogether(a, b);
        talk(a, b);
        shots::capture(&a.main(), out, QStringLiteral("main-window.png"));
        shots::capture(a.client->chat().chatWindow(), out, QStringLiteral("chat-window.png"));
        Form3 version(&a.main());
        shots::capture(&version, out, QStringLiteral("version-window.png"));
        whileConnected();
    }
    QDir::setCurrent(before);
}
