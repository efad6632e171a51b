#include "appsetup.h"

#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace appsetup {

QList<std::pair<QString, QString>> fontSubstitutions() {
    const QString gothic = QStringLiteral("IPAGothic");
    const QString pgothic = QStringLiteral("IPAPGothic");
    const QString mincho = QStringLiteral("IPAMincho");
    const QString pmincho = QStringLiteral("IPAPMincho");
    return {
        {QStringLiteral("ＭＳ ゴシック"), gothic},    {QStringLiteral("MS Gothic"), gothic},
        {QStringLiteral("ＭＳ Ｐゴシック"), pgothic}, {QStringLiteral("MS PGothic"), pgothic},
        {QStringLiteral("MS UI Gothic"), pgothic},    {QStringLiteral("ＭＳ 明朝"), mincho},
        {QStringLiteral("MS Mincho"), mincho},        {QStringLiteral("ＭＳ Ｐ明朝"), pmincho},
        {QStringLiteral("MS PMincho"), pmincho},
    };
}

void installFontSubstitutions() {
    for (const auto& [face, substitute] : fontSubstitutions())
        QFont::insertSubstitution(face, substitute);
}

bool installQtTranslator(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/sketora-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace appsetup
