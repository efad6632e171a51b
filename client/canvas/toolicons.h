#pragma once

#include <QIcon>

// The pictures of the four tool tabs (pencil, eraser, dropper, hand), drawn
// at run time so the client needs no image files.
QIcon toolIcon(int tool); // 1..4
