#include "numbers.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace protocol {
namespace {

// Shared by the text and byte forms: `at(i)` yields the i-th character as a
// char16_t (0 past the end).
template <typename At> double readLenient(qsizetype size, At at)
{
    qsizetype i = 0;
    while (i < size && (at(i) == u' ' || at(i) == u'\t'))
        ++i;

    bool negative = false;
    if (i < size && (at(i) == u'+' || at(i) == u'-')) {
        negative = at(i) == u'-';
        ++i;
    }

    // Collect the digits into a plain ASCII buffer and let strtod do the
    // correctly rounded conversion.
    std::string digits;
    bool any = false;
    while (i < size && at(i) >= u'0' && at(i) <= u'9') {
        digits.push_back(char(at(i)));
        any = true;
        ++i;
    }
    if (i < size && at(i) == u'.') {
        digits.push_back('.');
        ++i;
        while (i < size && at(i) >= u'0' && at(i) <= u'9') {
            digits.push_back(char(at(i)));
            any = true;
            ++i;
        }
    }
    if (!any)
        return 0.0;
    const double magnitude = std::strtod(digits.c_str(), nullptr);
    return negative ? -magnitude : magnitude;
}

template <typename Int> std::optional<Int> roundTo(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // nearbyint honours the current rounding mode; the default (to nearest)
    // sends halves to the even neighbour, as the integer conversions expect.
    const int oldMode = std::fegetround();
    if (oldMode != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    if (oldMode != FE_TONEAREST)
        std::fesetround(oldMode);
    if (rounded < double(std::numeric_limits<Int>::min()) ||
        rounded > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return Int(rounded);
}

} // namespace

double readNumber(QStringView text)
{
    return readLenient(text.size(), [&](qsizetype i) { return text[i].unicode(); });
}

double readNumber(QByteArrayView text)
{
    return readLenient(text.size(), [&](qsizetype i) { return char16_t(uchar(text[i])); });
}

std::optional<qint16> roundToInt16(double value)
{
    return roundTo<qint16>(value);
}

std::optional<qint32> roundToInt32(double value)
{
    return roundTo<qint32>(value);
}

QString clientNumber(qint64 value)
{
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

QString plainNumber(qint64 value)
{
    return QString::number(value);
}

} // namespace protocol
