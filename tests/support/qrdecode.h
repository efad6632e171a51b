#pragma once

#include <QImage>
#include <QStringList>
#include <algorithm>
#include <memory>
#include <zbar.h>

// What a QR reader finds in a picture (zbar, as phones read it): the texts of
// every QR code in it, empty when there is none.
inline QStringList decodeQrCodes(const QImage& picture) {
    using namespace zbar; // its C interface, declared in the namespace for C++
    QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    // zbar wants the rows without padding.
    QByteArray pixels;
    for (int y = 0; y < grey.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
    const std::unique_ptr<zbar_image_scanner_t, decltype(&zbar_image_scanner_destroy)> scanner(
        zbar_image_scanner_create(), &zbar_image_scanner_destroy);
    zbar_image_scanner_set_config(scanner.get(), ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(scanner.get(), ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    const std::unique_ptr<zbar_image_t, decltype(&zbar_image_destroy)> image(zbar_image_create(),
                                                                             &zbar_image_destroy);
    zbar_image_set_format(image.get(), zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image.get(), unsigned(grey.width()), unsigned(grey.height()));
    zbar_image_set_data(image.get(), pixels.constData(), unsigned(pixels.size()), nullptr);
    QStringList texts;
    if (zbar_scan_image(scanner.get(), image.get()) <= 0)
        return texts;
    for (const zbar_symbol_t* symbol = zbar_image_first_symbol(image.get()); symbol;
         symbol = zbar_symbol_next(symbol))
        texts << QString::fromUtf8(zbar_symbol_get_data(symbol),
                                   int(zbar_symbol_get_data_length(symbol)));
    return texts;
}

// A QR code drawn as text with block characters for the light modules (two
// module rows per line: ▀ top, ▄ bottom, █ both), as a picture of `scale`
// pixels per module.
inline QImage pictureOfTextQr(const QStringList& lines, int scale = 4) {
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, int(line.size()));
    QImage picture(width * scale, int(lines.size()) * 2 * scale, QImage::Format_Grayscale8);
    picture.fill(0);
    for (int row = 0; row < lines.size(); ++row) {
        for (int column = 0; column < lines[row].size(); ++column) {
            const QChar c = lines[row][column];
            const bool top = c == u'█' || c == u'▀';
            const bool bottom = c == u'█' || c == u'▄';
            for (int half = 0; half < 2; ++half) {
                if (!(half == 0 ? top : bottom))
                    continue;
                for (int dy = 0; dy < scale; ++dy) {
                    uchar* line = picture.scanLine((row * 2 + half) * scale + dy);
                    std::fill_n(line + column * scale, scale, uchar(255));
                }
            }
        }
    }
    return picture;
}
