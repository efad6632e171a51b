// Process set-up of the client: the face names the program uses resolve to
// the IPA fonts, Qt's own buttons speak Japanese, and the windows get the
// program's icon.
#include "appsetup.h"
#include "fakeprompts.h"
#include "form1.h"
#include "sketoraclient.h"

#include <QApplication>
#include <QFontInfo>
#include <QIcon>
#include <QTemporaryDir>
#include <QTest>

class TestAppSetup : public QObject {
    Q_OBJECT
private slots:
    void faceNamesResolveToIpaFonts();
    void qtTextsAreJapanese();
    void windowsShowTheProgramsIcon();
};

void TestAppSetup::faceNamesResolveToIpaFonts() {
    appsetup::installFontSubstitutions();
    const QList<std::pair<QString, QString>> expected{
        {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")},
        {QStringLiteral("ＭＳ 明朝"), QStringLiteral("IPAMincho")},
        {QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic")},
        {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")},
    };
    for (const auto& [face, family] : expected) {
        QCOMPARE(QFontInfo(QFont(face, 12)).family(), family);
    }
}

void TestAppSetup::qtTextsAreJapanese() {
    QVERIFY(appsetup::installQtTranslator(*qApp));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
}

// The icon is compiled into the client's library, not the program: a client
// built into any program (tests, tools) shows it.
void TestAppSetup::windowsShowTheProgramsIcon() {
    const QIcon icon = appsetup::programIcon();
    QCOMPARE(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
    const QImage small = icon.pixmap(16, 16).toImage();
    QCOMPARE(small.size(), QSize(16, 16));
    QVERIFY(small.pixelColor(8, 8).alpha() > 0); // drawn, not an empty frame

    QTemporaryDir dir;
    FakePrompts prompts;
    SketoraClient client({&prompts, {}, dir.path(), [] { return 0; }});
    QCOMPARE(client.form1().windowIcon().availableSizes(), icon.availableSizes());
}

QTEST_MAIN(TestAppSetup)
#include "tst_appsetup.moc"
