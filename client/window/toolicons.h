#pragma once

#include <QIcon>

// The pictures of the four tool tabs (pencil, eraser, dropper, hand), 16 and
// 32 pixels, compiled into the program from the same art as its icons.
QIcon toolIcon(int tool); // 1..4
