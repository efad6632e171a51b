#pragma once

class QWidget;

// Keeps a top-level window's outer size (frame included) at or above `floor`
// pixels each way. The smallest client size the window accepts follows the
// frame's thickness, and a window found smaller than that is grown back, so
// the rule holds however the size was set. A minimised window is left alone.
void keepOuterSizeAtLeast(QWidget& window, int floor);
