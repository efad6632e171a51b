// Binds TransG32 from its default places, as the installed client does at
// its first JPEG or PNG save, and saves a red 40 x 30 picture as probe.jpg
// and probe.png into the current directory. Prints the library's file name;
// exit status 1 when no library was found.
#include "transg32library.h"

#include <QCoreApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(qRgb(255, 0, 0));
    TransG32Library library;
    using Kind = TransG32Library::Kind;
    if (!library.save(Kind::Jpeg, picture, 40, 30, "probe.jpg") ||
        !library.save(Kind::Png, picture, 40, 30, "probe.png"))
        return 1;
    std::printf("%s\n", qPrintable(library.loadedFrom()));
    return 0;
}
