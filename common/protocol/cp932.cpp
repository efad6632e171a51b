#include "cp932.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace protocol {
namespace {

// Code points where Windows' CP932 differs from the JIS-based tables ICU
// also accepts; mapping them first makes them encode to the Windows bytes.
char16_t windowsEquivalent(char16_t c)
{
    switch (c) {
    case 0x301C: return 0xFF5E; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2212: return 0xFF0D; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x2016: return 0x2225; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x00AC: return 0xFFE2; // NOT SIGN
    case 0x00A2: return 0xFFE0; // CENT SIGN
    case 0x00A3: return 0xFFE1; // POUND SIGN
    case 0x2014: return 0x2015; // EM DASH -> HORIZONTAL BAR
    default: return c;
    }
}

// One character (or surrogate pair); empty when CP932 cannot hold it. A
// fresh encoder each time: the error flag survives resetState().
QByteArray encodeOne(QStringView piece)
{
    QStringEncoder encoder("CP932", QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder(piece);
    return encoder.hasError() ? QByteArray() : bytes;
}

} // namespace

QByteArray toCp932(const QString& text)
{
    QStringEncoder encoder("CP932", QStringConverter::Flag::Stateless);
    QString mapped = text;
    for (QChar& c : mapped)
        c = QChar(windowsEquivalent(c.unicode()));

    // Fast path: the whole text converts cleanly.
    QByteArray bytes = encoder(mapped);
    if (!encoder.hasError())
        return bytes;

    // Slow path: convert character by character (surrogate pairs together)
    // and write '?' for anything CP932 cannot hold, never the converter's
    // own substitution bytes.
    bytes.clear();
    for (qsizetype i = 0; i < mapped.size();) {
        const qsizetype len =
            (mapped[i].isHighSurrogate() && i + 1 < mapped.size() && mapped[i + 1].isLowSurrogate())
                ? 2
                : 1;
        const QStringView one = QStringView(mapped).sliced(i, len);
        const QByteArray enc = encodeOne(one);
        if (enc.isEmpty())
            bytes += '?';
        else
            bytes += enc;
        i += len;
    }
    return bytes;
}

QString fromCp932(QByteArrayView bytes)
{
    QStringDecoder decoder("CP932", QStringConverter::Flag::Stateless);
    return decoder(bytes);
}

QColor colorFromValue(qint32 value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

qint32 valueFromColor(const QColor& colour)
{
    return colour.red() + 256 * colour.green() + 65536 * colour.blue();
}

} // namespace protocol
