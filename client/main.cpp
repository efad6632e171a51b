// The drawing client. Shows the server address dialog first; the main window
// appears when it closes, and the program ends with its last window.
#include "appsetup.h"
#include "sketoraclient.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    appsetup::installFontSubstitutions();
    appsetup::installQtTranslator(app);

    SketoraClient client;
    client.start();
    return app.exec();
}
