#define TRANSG32_BUILDING
#include "transg32.h"

#include "cp932.h"

#include <QImage>
#include <QImageWriter>
#include <QString>

namespace {

// Writes the top-left width x height part of the picture behind `dc` to the
// CP932-named file in `format`. Parts that reach beyond the picture are
// filled black rather than read out of bounds.
qint16 writePicture(const void* dc, qint32 width, qint32 height, const char* fileName,
                    const char* format, int quality) {
    if (!dc || !fileName || width <= 0 || height <= 0)
        return 0;
    const QString name = protocol::fromCp932(QByteArrayView(fileName));
    if (name.isEmpty())
        return 0;

    const QImage& picture = *static_cast<const QImage*>(dc);
    const QImage part = (picture.width() == width && picture.height() == height)
                            ? picture
                            : picture.copy(0, 0, width, height);

    QImageWriter writer(name, format);
    if (quality >= 0)
        writer.setQuality(quality);
    return writer.write(part) ? 1 : 0;
}

} // namespace

extern "C" {

qint16 DCSavetoJPEG(const void* dc, qint32 width, qint32 height, const char* fileName,
                    quint8 quality, qint32 /*reserved*/) {
    return writePicture(dc, width, height, fileName, "jpeg", qMin<int>(quality, 100));
}

qint16 DCSavetoPNG(const void* dc, qint32 width, qint32 height, const char* fileName,
                   quint8 /*option*/) {
    return writePicture(dc, width, height, fileName, "png", -1);
}

} // extern "C"
