// The drawing client. Shows the server address dialog first; the main window
// appears when it closes, and the program ends with its last window.
#include "appsetup.h"
#include "sketoraclient.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Desktop shells match the windows to sketora.desktop (menu entry, icon);
    // every window (chat, dialogs) shows the program's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("sketora"));
    QApplication::setWindowIcon(appsetup::programIcon());
    appsetup::installFontSubstitutions();
    appsetup::installQtTranslator(app);

    SketoraClient client;
    client.start();
    return app.exec();
}
