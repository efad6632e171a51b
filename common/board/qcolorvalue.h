#pragma once

#include "colorvalue.h"

#include <QColor>

// A colour value as a QColor for widgets and documents, and back. The bit
// layout is the protocol's (colorvalue.h); these only adapt it to Qt's type.
inline QColor colorFromValue(qint32 value) {
    return QColor::fromRgb(protocol::argbFromValue(value));
}

inline qint32 valueFromColor(const QColor& colour) {
    return protocol::valueFromArgb(colour.rgb());
}
