#include "numbers.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace protocol {
namespace {

// Up to this many significant digits a whole number is exact in 64 bits, and
// converting it to double rounds exactly as the general route rounds the same
// digits (to nearest, ties to even).
constexpr int ExactDigits = 18;

template <typename Char> bool isDigit(Char c) {
    return c >= '0' && c <= '9';
}

// A number as read: whole (the common case, every number the programs write)
// with its sign and magnitude, or anything else already converted.
struct Reading {
    bool whole = true;
    bool negative = false;
    quint64 magnitude = 0;
    double converted = 0; // when not whole

    double value() const {
        if (!whole)
            return converted;
        const double m = double(magnitude);
        return negative ? -m : m;
    }
};

// The general route from the first digit (or point) on: digits with an
// optional fraction, gathered as ASCII for a correctly rounded conversion
// that, unlike strtod, does not depend on the process locale's decimal point.
template <typename Char>
Q_NEVER_INLINE double readDecimal(const Char* p, const Char* end, bool negative) {
    std::string digits;
    bool any = false;
    bool wholePart = false; // a digit other than 0 before the point
    for (; p != end && isDigit(*p); ++p) {
        digits.push_back(char(*p));
        any = true;
        wholePart = wholePart || *p != '0';
    }
    if (p != end && *p == '.') {
        digits.push_back('.');
        for (++p; p != end && isDigit(*p); ++p) {
            digits.push_back(char(*p));
            any = true;
        }
    }
    if (!any)
        return 0.0;
    double magnitude = 0;
    const std::from_chars_result result =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    // Beyond the range of double: too large reads as infinity (which no
    // integer fits), too small as zero.
    if (result.ec == std::errc::result_out_of_range)
        magnitude = wholePart ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

// Blanks, an optional sign, then the digits. A plain integer is taken
// directly; a fraction or a longer run of digits takes the general route.
// Without any digit the reading is a plain (positive) zero. Inlined into each
// reader: it runs several times for every drawing line.
template <typename Char> Q_ALWAYS_INLINE Reading readLenient(const Char* p, const Char* const end) {
    while (p != end && (*p == ' ' || *p == '\t'))
        ++p;
    Reading reading;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const Char* const first = p;
    while (p != end && *p == '0')
        ++p;
    const Char* const limit = end - p > ExactDigits ? p + ExactDigits : end;
    quint64 magnitude = 0;
    for (; p != limit && isDigit(*p); ++p)
        magnitude = magnitude * 10 + unsigned(*p - '0');
    if (p != end && (*p == '.' || isDigit(*p))) {
        reading.whole = false;
        reading.converted = readDecimal(first, end, negative);
    } else if (p != first) {
        reading.negative = negative;
        reading.magnitude = magnitude;
    }
    return reading;
}

Q_ALWAYS_INLINE Reading readLenient(QStringView text) {
    return readLenient(text.utf16(), text.utf16() + text.size());
}

Q_ALWAYS_INLINE Reading readLenient(QByteArrayView text) {
    return readLenient(text.data(), text.data() + text.size());
}

// Rounds halves to even; NoFit outside [lowest, highest] (both within the
// range of qint32, so exact as doubles).
qint64 roundIn(double value, qint64 lowest, qint64 highest) {
    // Whole values in range (nearly all of them) need no rounding; the cast
    // truncates, which is exact for them and defined for anything in range.
    if (value >= double(lowest) && value <= double(highest) && double(qint64(value)) == value)
        return qint64(value);
    if (!std::isfinite(value))
        return detail::NoFit;
    // nearbyint honours the current rounding mode; the default (to nearest)
    // sends halves to the even neighbour, as the integer conversions expect.
    const int oldMode = std::fegetround();
    if (oldMode != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    if (oldMode != FE_TONEAREST)
        std::fesetround(oldMode);
    if (rounded < double(lowest) || rounded > double(highest))
        return detail::NoFit;
    return qint64(rounded);
}

// A whole reading needs no rounding, only the range check; its magnitude has
// at most 18 digits, so the signed value cannot overflow.
Q_ALWAYS_INLINE qint64 within(const Reading& reading, qint64 lowest, qint64 highest) {
    if (!reading.whole)
        return roundIn(reading.converted, lowest, highest);
    const qint64 magnitude = qint64(reading.magnitude);
    const qint64 value = reading.negative ? -magnitude : magnitude;
    return value < lowest || value > highest ? detail::NoFit : value;
}

} // namespace

double readNumber(QStringView text) {
    return readLenient(text).value();
}

double readNumber(QByteArrayView text) {
    return readLenient(text).value();
}

namespace detail {

qint64 roundWithin(double value, qint64 lowest, qint64 highest) {
    return roundIn(value, lowest, highest);
}

qint64 readWithin(QStringView text, qint64 lowest, qint64 highest) {
    return within(readLenient(text), lowest, highest);
}

qint64 readWithin(QByteArrayView text, qint64 lowest, qint64 highest) {
    return within(readLenient(text), lowest, highest);
}

} // namespace detail

QString clientNumber(qint64 value) {
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

QString plainNumber(qint64 value) {
    return QString::number(value);
}

} // namespace protocol
