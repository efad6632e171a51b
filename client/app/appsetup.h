#pragma once

#include <QList>
#include <QString>
#include <utility>

class QCoreApplication;
class QIcon;

// Process-wide set-up of the drawing client before its first window.
namespace appsetup {

// The face names the windows and the chat use, mapped to the IPA fonts.
// The names themselves stay (they are written into saved conversations).
QList<std::pair<QString, QString>> fontSubstitutions();
void installFontSubstitutions();

// Qt's own texts (OK, キャンセル, file dialogs) in Japanese; false when the
// translation file is not installed.
bool installQtTranslator(QCoreApplication& app);

// The program's icon for its windows, 16, 32 and 48 pixels, drawn from the
// same art as the desktop icon.
QIcon programIcon();

} // namespace appsetup
