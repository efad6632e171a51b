// The settings reader on arbitrary file content: the input is written as
// "reduza.ini" into a scratch folder and read with confLoad, as at start-up.
// Besides crashes and undefined behaviour it checks:
// - reading the file gives the same settings as reading the same bytes from
//   memory;
// - whatever was read, saving it and reading the saved file back gives the
//   same palette and numbers, and the same name wherever CP932 can hold it.
#include "cp932.h"
#include "settingsfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

const QTemporaryDir& scratch() {
    // A memory-backed folder where there is one: millions of small writes.
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/fuzz_settingsfile-XXXXXX")
                                 : QString());
    return dir;
}

bool sameNumbers(const ChatSettings& a, const ChatSettings& b) {
    return a.confFontName == b.confFontName && a.confFontSize == b.confFontSize &&
           a.confFontColor == b.confFontColor && a.confFontBackColor == b.confFontBackColor;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString dir = scratch().path();
    {
        QFile file(dir + QStringLiteral("/") + QLatin1String(settingsfile::FileName));
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(content) == content.size());
    }

    ChatSettings fromFile;
    settingsfile::Palette paletteFromFile{};
    settingsfile::confLoad(fromFile, paletteFromFile, dir);

    ChatSettings fromMemory;
    settingsfile::Palette paletteFromMemory{};
    settingsfile::applyText(content, fromMemory, paletteFromMemory);
    check(sameNumbers(fromFile, fromMemory) && fromFile.confMyName == fromMemory.confMyName);
    check(paletteFromFile == paletteFromMemory);

    const QByteArray saved = settingsfile::savedText(fromFile, paletteFromFile);
    ChatSettings again;
    settingsfile::Palette paletteAgain{};
    settingsfile::applyText(saved, again, paletteAgain);
    check(sameNumbers(fromFile, again));
    check(paletteAgain == paletteFromFile);
    // A name keeps itself unless CP932 cannot hold it (an invalid byte read
    // as U+FFFD is saved as '?'), or it ends in a carriage return that the
    // reader takes for part of the line end.
    const QString name = fromFile.confMyName;
    const bool representable =
        protocol::fromCp932(protocol::toCp932(name)) == name && !name.endsWith(QLatin1Char('\r'));
    if (representable)
        check(again.confMyName == name);
    return 0;
}
