#pragma once

#include <QImage>
#include <QSize>

// The preview's reduction of the canvas: the source rectangle of `sourceSize`
// pixels starting at the canvas image's origin is scaled onto the whole of
// `target`. Source pixels that fall on one target pixel are combined with a
// bitwise AND of their colour values, so dark pixels win over light ones and a
// one-pixel dark stroke stays visible. Source pixel (sx, sy) lands on target
// pixel (sx * tw / sw, sy * th / sh), rounded down. Parts of the rectangle
// beyond the image count as white, which leaves the AND unchanged.
//
// Both images are Format_RGB32.
void reduceByAnd(const QImage& source, QSize sourceSize, QImage& target);
