#pragma once

#include <QtGlobal>

// Colour values as they travel on both channels and stand in files: red +
// 256 * green + 65536 * blue in a signed 32-bit integer. Only 0..16777215 are
// colours. In pictures a colour is 0xffRRGGBB (Qt's ARGB words).
namespace protocol {

inline constexpr qint32 White = 16777215;

constexpr bool isColorValue(qint32 value) {
    return value >= 0 && value <= White;
}

// The ARGB word of a colour value (opaque); only the low 24 bits are read.
constexpr quint32 argbFromValue(qint32 value) {
    const auto v = quint32(value);
    return 0xff000000u | ((v & 0xffu) << 16) | (v & 0xff00u) | ((v >> 16) & 0xffu);
}

// The colour value of an ARGB word; alpha is not part of it.
constexpr qint32 valueFromArgb(quint32 argb) {
    return qint32(((argb >> 16) & 0xffu) | (argb & 0xff00u) | ((argb & 0xffu) << 16));
}

} // namespace protocol
