#include "cp932.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <optional>

namespace protocol {
namespace {

// Code points where Windows' CP932 differs from the JIS-based tables ICU
// also accepts; mapping them first makes them encode to the Windows bytes.
char16_t windowsEquivalent(char16_t c) {
    switch (c) {
    case 0x301C:
        return 0xFF5E; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2212:
        return 0xFF0D; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x2016:
        return 0x2225; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x00AC:
        return 0xFFE2; // NOT SIGN
    case 0x00A2:
        return 0xFFE0; // CENT SIGN
    case 0x00A3:
        return 0xFFE1; // POUND SIGN
    case 0x2014:
        return 0x2015; // EM DASH -> HORIZONTAL BAR
    default:
        return c;
    }
}

// One character (or surrogate pair); empty when CP932 cannot hold it. A
// fresh encoder each time: the error flag survives resetState().
QByteArray encodeOne(QStringView piece) {
    QStringEncoder encoder("CP932", QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder(piece);
    return encoder.hasError() ? QByteArray() : bytes;
}

// A run of characters outside ASCII, through the converter.
void encodeRun(QStringView run, QByteArray& out) {
    // Fast path: the whole run converts cleanly.
    QStringEncoder encoder("CP932", QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder(run);
    if (!encoder.hasError()) {
        out += bytes;
        return;
    }
    // Slow path: character by character (surrogate pairs together), '?' for
    // anything CP932 cannot hold, never the converter's own substitution bytes.
    for (qsizetype i = 0; i < run.size();) {
        const qsizetype len =
            (run[i].isHighSurrogate() && i + 1 < run.size() && run[i + 1].isLowSurrogate()) ? 2 : 1;
        const QByteArray enc = encodeOne(run.sliced(i, len));
        if (enc.isEmpty())
            out += '?';
        else
            out += enc;
        i += len;
    }
}

bool isLeadByte(uchar b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isTrailByte(uchar b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

bool isKatakanaByte(uchar b) {
    return b >= 0xA1 && b <= 0xDF;
}

// A run of well-formed non-ASCII sequences (lead + trail pairs, half-width
// katakana), through the converter. A pair the table does not hold comes back
// as the converter's substitute (U+001A or U+FFFD): written as U+FFFD.
void decodeRun(std::optional<QStringDecoder>& decoder, QByteArrayView run, QString& out) {
    if (run.isEmpty())
        return;
    if (!decoder)
        decoder.emplace("CP932", QStringConverter::Flag::Stateless);
    QString text = (*decoder)(run);
    text.replace(QChar(0x1A), QChar::ReplacementCharacter);
    out += text;
}

} // namespace

// ASCII is written byte for byte, as Windows does: the converter's own table
// swaps 0x1A, 0x1C and 0x7F with other control characters.
QByteArray toCp932(const QString& text) {
    QString mapped = text;
    for (QChar& c : mapped)
        c = QChar(windowsEquivalent(c.unicode()));

    QByteArray bytes;
    bytes.reserve(mapped.size());
    const QStringView all(mapped);
    qsizetype runStart = -1;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const char16_t c = all[i].unicode();
        if (c >= 0x80) {
            if (runStart < 0)
                runStart = i;
            continue;
        }
        if (runStart >= 0) {
            encodeRun(all.sliced(runStart, i - runStart), bytes);
            runStart = -1;
        }
        bytes += char(c);
    }
    if (runStart >= 0)
        encodeRun(all.sliced(runStart), bytes);
    return bytes;
}

// Bytes 0x00-0x7F are ASCII (unless they are the second byte of a pair); a
// lead byte without a valid second byte, and a byte that is no character at
// all, become U+FFFD each, so an invalid byte costs only itself and the
// length of the text never depends on where an input was cut.
QString fromCp932(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    const qsizetype size = bytes.size();
    qsizetype runStart = 0;
    qsizetype i = 0;
    std::optional<QStringDecoder> decoder; // opened at the first non-ASCII run
    const auto flush = [&](qsizetype end) {
        decodeRun(decoder, bytes.sliced(runStart, end - runStart), text);
    };
    while (i < size) {
        const uchar b = uchar(bytes[i]);
        if (isLeadByte(b) && i + 1 < size && isTrailByte(uchar(bytes[i + 1]))) {
            i += 2;
            continue;
        }
        if (isKatakanaByte(b)) {
            ++i;
            continue;
        }
        flush(i);
        text += b < 0x80 ? QChar(b) : QChar::ReplacementCharacter;
        runStart = ++i;
    }
    flush(size);
    return text;
}

// Only runs outside ASCII can lose anything; a run that comes back whole as
// a piece needs no look at its characters.
QList<TextSpan> cp932Losses(QStringView text) {
    QList<TextSpan> losses;
    const auto lose = [&losses](qsizetype at, qsizetype length) {
        if (!losses.isEmpty() && losses.last().start + losses.last().length == at)
            losses.last().length += length;
        else
            losses.append({at, length});
    };
    const auto check = [&](qsizetype start, qsizetype end) {
        QString run = text.sliced(start, end - start).toString();
        for (QChar& c : run)
            c = QChar(windowsEquivalent(c.unicode()));
        if (fromCp932(toCp932(run)) == run)
            return;
        for (qsizetype i = 0; i < run.size();) {
            const qsizetype len =
                (run[i].isHighSurrogate() && i + 1 < run.size() && run[i + 1].isLowSurrogate()) ? 2
                                                                                                : 1;
            const QString one = run.sliced(i, len);
            if (fromCp932(toCp932(one)) != one)
                lose(start + i, len);
            i += len;
        }
    };
    qsizetype runStart = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].unicode() >= 0x80) {
            if (runStart < 0)
                runStart = i;
        } else if (runStart >= 0) {
            check(runStart, i);
            runStart = -1;
        }
    }
    if (runStart >= 0)
        check(runStart, text.size());
    return losses;
}

} // namespace protocol
