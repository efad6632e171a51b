#pragma once

#include <QString>
#include <QtGlobal>

// The chat settings the client keeps from start-up to exit, shared by the
// chat window, the text channel and the settings file. The palette colours belong to the palette
// itself. All values are 0 and empty until the settings file has been read.
struct ChatSettings {
    qint16 confFontName = 0;      // 1 mincho, any other value gothic
    qint16 confFontSize = 0;      // points
    qint32 confFontColor = 0;     // red + 256*green + 65536*blue
    qint32 confFontBackColor = 0; // likewise
    QString confMyName;
};
