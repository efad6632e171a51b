// Process set-up of the client: the face names the program uses resolve to
// the IPA fonts, and Qt's own buttons speak Japanese.
#include "appsetup.h"

#include <QApplication>
#include <QFontInfo>
#include <QTest>

class TestAppSetup : public QObject {
    Q_OBJECT
private slots:
    void faceNamesResolveToIpaFonts();
    void qtTextsAreJapanese();
};

void TestAppSetup::faceNamesResolveToIpaFonts()
{
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

void TestAppSetup::qtTextsAreJapanese()
{
    QVERIFY(appsetup::installQtTranslator(*qApp));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
}

QTEST_MAIN(TestAppSetup)
#include "tst_appsetup.moc"
