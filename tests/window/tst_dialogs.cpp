// The client's own dialogs as the production prompts run them: the address
// dialog of the network menu and the chat's name dialog, both the server
// address dialog (Form2) in its connect and rename modes; and the file
// dialogs.
#include "form2.h"
#include "modalwatch.h"
#include "qtprompts.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    void saveDialogAddsTheChosenTypesExtension();
    void pickDialogTakesAnyNameAsTyped();
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
    QCOMPARE(prompts.serverAddress(nullptr, QStringLiteral("127.0.0.1"), {}),
             std::optional<QString>(QStringLiteral("127.0.0.1")));
    QCOMPARE(mode, int(Form2::Connect));
    QCOMPARE(offered, QStringLiteral("127.0.0.1"));

    whenShown([](Form2* dialog) {
        dialog->Text1()->setText(QStringLiteral("  10.0.0.2 "));
        dialog->Command1()->click();
    });
    QCOMPARE(prompts.serverAddress(nullptr, QString(), {}),
             std::optional<QString>(QStringLiteral("10.0.0.2")));

    whenShown([](Form2* dialog) { dialog->Command2()->click(); });
    QCOMPARE(prompts.serverAddress(nullptr, QStringLiteral("127.0.0.1"), {}), std::nullopt);
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

namespace {

// Types `name` into the file dialog, chooses the type `filter` (by its
// caption) and presses the dialog's button; what the button said.
QString answerFileDialog(QFileDialog* dialog, const QString& caption, const QString& name) {
    // The type is chosen as a person does, with the arrow keys.
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int step = 0; types && step < types->count() && types->currentText() != caption; ++step)
        QTest::keyClick(types, Qt::Key_Down);
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
    const QString button = dialog->labelText(QFileDialog::Accept);
    static_cast<QDialog*>(dialog)->accept(); // as the button does
    if (dialog->isVisible())
        dialog->reject();
    return button;
}

} // namespace

// "みんなの絵" with the BMP type becomes "みんなの絵.bmp"; a name with an
// extension, or the every-file type, keeps the name as typed.
void TestDialogs::saveDialogAddsTheChosenTypesExtension() {
    QtPrompts prompts;
    QTemporaryDir dir;
    const QString filter =
        QStringLiteral("PNGファイル(*.png);;BMPファイル(*.bmp);;全てのファイル(*.*)");
    const QString start = dir.filePath(QStringLiteral("x"));
    const struct {
        const char* caption;
        const char* typed;
        const char* saved;
    } cases[] = {
        {"PNGファイル(*.png)", "みんなの絵", "みんなの絵.png"},
        {"BMPファイル(*.bmp)", "みんなの絵", "みんなの絵.bmp"},
        {"BMPファイル(*.bmp)", "絵.v2", "絵.v2"},
        {"全てのファイル(*.*)", "会話ログ", "会話ログ"},
    };
    for (const auto& c : cases) {
        ModalWatch<QFileDialog> watch([&](QFileDialog* dialog) {
            answerFileDialog(dialog, QString::fromUtf8(c.caption), QString::fromUtf8(c.typed));
        });
        const std::optional<QString> saved =
            prompts.saveFileName(nullptr, QStringLiteral("名前を付けて保存"), filter, start);
        QCOMPARE(watch.seen(), 1);
        QCOMPARE(saved, std::optional<QString>(dir.filePath(QString::fromUtf8(c.saved))));
    }
}

// The log-play dialog opens: its own title and button, and the name as typed,
// existing or not, whatever type is shown.
void TestDialogs::pickDialogTakesAnyNameAsTyped() {
    QtPrompts prompts;
    QTemporaryDir dir;
    QString title, button;
    ModalWatch<QFileDialog> watch([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        button = answerFileDialog(dialog, QStringLiteral("Sketoraログファイル(*.skl)"),
                                  dir.filePath(QStringLiteral("nodot")));
    });
    const std::optional<QString> picked = prompts.pickFileName(
        nullptr, QStringLiteral("描画ログを開く"),
        QStringLiteral("Sketoraログファイル(*.skl);;全てのファイル(*.*)"), QStringLiteral("再生"));
    QCOMPARE(title, QStringLiteral("描画ログを開く"));
    QCOMPARE(button, QStringLiteral("再生"));
    QCOMPARE(picked, std::optional<QString>(dir.filePath(QStringLiteral("nodot"))));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
