#include "qrcode.h"

#include <QImage>
#include <memory>
#include <qrencode.h>

std::optional<QrCode> QrCode::encode(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    // 8-bit mode, version chosen by the library; case kept (URLs may need it).
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code || code->width <= 0)
        return std::nullopt;
    const int size = code->width;
    std::vector<bool> modules(size_t(size) * size);
    // Bit 0 of each byte is the module's colour; the other bits say what
    // part of the symbol it belongs to.
    for (size_t i = 0; i < modules.size(); ++i)
        modules[i] = code->data[i] & 1;
    return QrCode(size, std::move(modules));
}

bool QrCode::isDark(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_size || y >= m_size)
        return false;
    return m_modules[size_t(y) * m_size + x];
}

QImage QrCode::toImage(int scale) const {
    const int side = (m_size + 2 * QuietZone) * scale;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < m_size; ++y) {
        for (int x = 0; x < m_size; ++x) {
            if (!isDark(x, y))
                continue;
            for (int dy = 0; dy < scale; ++dy) {
                uchar* line = image.scanLine((y + QuietZone) * scale + dy);
                std::fill_n(line + (x + QuietZone) * scale, scale, uchar(0));
            }
        }
    }
    return image;
}

QString QrCode::toText() const {
    const int first = -QuietZone;
    const int end = m_size + QuietZone; // one past the last module row and column
    QString text;
    for (int y = first; y < end; y += 2) {
        for (int x = first; x < end; ++x) {
            const bool top = !isDark(x, y);
            const bool bottom = y + 1 < end && !isDark(x, y + 1);
            text += top && bottom ? u'█' : top ? u'▀' : bottom ? u'▄' : u' ';
        }
        text += u'\n';
    }
    return text;
}
