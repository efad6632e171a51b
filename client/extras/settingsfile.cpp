#include "settingsfile.h"

#include "cp932.h"
#include "numbers.h"
#include "wholefile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace settingsfile {
namespace {

QString filePath(const QString& directory) {
    return directory.isEmpty() ? QString::fromLatin1(FileName)
                               : QDir(directory).filePath(QString::fromLatin1(FileName));
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin).toString();
}

QByteArray lines(const QStringList& texts) {
    QByteArray out;
    for (const QString& text : texts)
        out += protocol::toCp932(text) + "\r\n";
    return out;
}

bool writeSafely(const QString& path, const QByteArray& content) {
    return wholefile::write(path, content).isEmpty();
}

void applyLine(QStringView line, ChatSettings& settings, Palette& palette) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return;
    const QStringView key = line.left(equals);
    const qsizetype second = line.indexOf(QLatin1Char('='), equals + 1);
    const QStringView value =
        second < 0 ? line.mid(equals + 1) : line.mid(equals + 1, second - equals - 1);

    // Palette lines: "pPalette" at the very start, the cell in the ninth place.
    if (trimBlanks(key.left(8)) == QLatin1String("pPalette")) {
        if (key.size() < 9)
            return;
        const int cell = key[8].unicode() - '0';
        if (cell < 0 || cell >= int(palette.size()))
            return;
        if (const auto colour = protocol::readInt32(value))
            palette[cell] = *colour;
        return;
    }

    const QString name = trimBlanks(key);
    if (name == QLatin1String("cFontName")) {
        if (const auto face = protocol::readInt16(value))
            settings.confFontName = *face;
    } else if (name == QLatin1String("cFontSize")) {
        if (const auto size = protocol::readInt16(value))
            settings.confFontSize = *size;
    } else if (name == QLatin1String("cFontColor")) {
        if (const auto colour = protocol::readInt32(value))
            settings.confFontColor = *colour;
    } else if (name == QLatin1String("cFontBackColor")) {
        if (const auto colour = protocol::readInt32(value))
            settings.confFontBackColor = *colour;
    } else if (name == QLatin1String("cMyName")) {
        // The whole rest of the line: a name may itself contain '='.
        settings.confMyName = trimBlanks(line.mid(equals + 1));
    }
}

void applyLines(QIODevice& device, ChatSettings& settings, Palette& palette) {
    for (int read = 0; read < MaxLines && !device.atEnd(); ++read) {
        QByteArray line = device.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        applyLine(protocol::fromCp932(line), settings, palette);
    }
}

} // namespace

QByteArray savedText(const ChatSettings& settings, const Palette& palette) {
    QStringList texts;
    for (int cell = 0; cell < int(palette.size()); ++cell)
        texts << QStringLiteral("pPalette%1 =%2").arg(cell).arg(palette[cell]);
    texts << QStringLiteral("cFontName=%1").arg(settings.confFontName)
          << QStringLiteral("cFontSize=%1").arg(settings.confFontSize)
          << QStringLiteral("cFontColor=%1").arg(settings.confFontColor)
          << QStringLiteral("cFontBackColor=%1").arg(settings.confFontBackColor)
          << QStringLiteral("cMyName=") + settings.confMyName;
    return lines(texts);
}

QByteArray defaultText() {
    return lines({
        QStringLiteral("pPalette0 =255"),
        QStringLiteral("pPalette1 =65280"),
        QStringLiteral("pPalette2 =16711680"),
        QStringLiteral("pPalette3 =16777215"),
        QStringLiteral("pPalette4 =16776960"),
        QStringLiteral("pPalette5 =16711935"),
        QStringLiteral("pPalette6 =65535"),
        QStringLiteral("pPalette7 =0"),
        QStringLiteral("cFontName = 0"),
        QStringLiteral("cFontSize = 10"),
        QStringLiteral("cFontColor =0"),
        QStringLiteral("cFontBackColor =16777215"),
        QStringLiteral("cMyName = Sketoraユーザー"),
    });
}

void applyText(const QByteArray& content, ChatSettings& settings, Palette& palette) {
    QByteArray copy = content;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    applyLines(buffer, settings, palette);
}

void confLoad(ChatSettings& settings, Palette& palette, const QString& directory) {
    const QString path = filePath(directory);
    if (!QFileInfo::exists(path)) {
        confCreate(settings, palette, directory);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return; // exists but unreadable (a folder, no permission): keep what we have
    applyLines(file, settings, palette);
}

namespace {

// Reads back the file confCreate has just written, without creating it again.
void loadWritten(const QString& path, ChatSettings& settings, Palette& palette) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        applyLines(file, settings, palette);
}

} // namespace

bool confSave(const ChatSettings& settings, const Palette& palette, const QString& directory) {
    return writeSafely(filePath(directory), savedText(settings, palette));
}

bool confCreate(ChatSettings& settings, Palette& palette, const QString& directory) {
    const QByteArray content = defaultText();
    if (!writeSafely(filePath(directory), content)) {
        // Reading back a file that could not be written would only come here
        // again; take the defaults straight from memory instead.
        applyText(content, settings, palette);
        return false;
    }
    loadWritten(filePath(directory), settings, palette);
    return true;
}

} // namespace settingsfile
