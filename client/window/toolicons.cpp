#include "toolicons.h"

#include <QString>

// The pictures are compiled into this static library; its initialiser has to
// be pulled in by name or the linker drops it.
static void initCanvasResources() {
    Q_INIT_RESOURCE(window);
}

QIcon toolIcon(int tool) {
    initCanvasResources();
    static const char* const names[] = {"pencil", "eraser", "dropper", "hand"};
    const QLatin1String name(names[tool >= 1 && tool <= 4 ? tool - 1 : 3]);
    QIcon icon;
    for (int size : {16, 32})
        icon.addFile(QStringLiteral(":/window/icons/tool-%1-%2.png").arg(name).arg(size),
                     QSize(size, size));
    return icon;
}
