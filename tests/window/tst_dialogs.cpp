// The client's own dialogs as the production prompts run them: the address
// dialog of the network menu and the chat's name dialog, both the server
// address dialog (Form2) in its connect and rename modes.
#include "form2.h"
#include "qtprompts.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

// Runs `act` on the modal address dialog once it is up.
void whenShown(std::function<void(Form2*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<Form2*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(dialog);
    });
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void addressDialogOffersAndConnects();
    void nameDialogRenames();
};

void TestDialogs::addressDialogOffersAndConnects() {
    QtPrompts prompts;
    int mode = -1;
    QString offered;
    whenShown([&](Form2* dialog) {
        mode = dialog->dlgMode();
        offered = dialog->Text1()->text();
        QTest::keyClick(dialog->Text1(), Qt::Key_Return);
    });
    QCOMPARE(prompts.serverAddress(nullptr, QStringLiteral("127.0.0.1")),
             std::optional<QString>(QStringLiteral("127.0.0.1")));
    QCOMPARE(mode, int(Form2::Connect));
    QCOMPARE(offered, QStringLiteral("127.0.0.1"));

    whenShown([](Form2* dialog) {
        dialog->Text1()->setText(QStringLiteral("  10.0.0.2 "));
        dialog->Command1()->click();
    });
    QCOMPARE(prompts.serverAddress(nullptr, QString()),
             std::optional<QString>(QStringLiteral("10.0.0.2")));

    whenShown([](Form2* dialog) { dialog->Command2()->click(); });
    QCOMPARE(prompts.serverAddress(nullptr, QStringLiteral("127.0.0.1")), std::nullopt);
}

void TestDialogs::nameDialogRenames() {
    QtPrompts prompts;
    bool stayedOpen = false, closed = false;
    int connects = -1;
    whenShown([&](Form2* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Talkora - 名前の変更"));
        QCOMPARE(dialog->Command1()->text(), QStringLiteral("Change"));
        QCOMPARE(dialog->Text1()->text(), QStringLiteral("太郎"));
        QSignalSpy connectSpy(dialog, &Form2::connectRequested);

        dialog->Text1()->setText(QStringLiteral("   "));
        dialog->Command1()->click();
        stayedOpen = dialog->isVisible();

        dialog->Text1()->setText(QStringLiteral("  花子 ～ "));
        QTest::keyClick(dialog->Text1(), Qt::Key_Enter);
        closed = !dialog->isVisible();
        connects = int(connectSpy.size());
    });
    QCOMPARE(prompts.newName(nullptr, QStringLiteral("太郎")),
             std::optional<QString>(QStringLiteral("花子 ～")));
    QVERIFY(stayedOpen);
    QVERIFY(closed);
    QCOMPARE(connects, 0);

    whenShown([](Form2* dialog) { dialog->reject(); });
    QCOMPARE(prompts.newName(nullptr, QStringLiteral("太郎")), std::nullopt);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
