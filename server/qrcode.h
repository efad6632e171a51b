#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class QImage;

// A QR code of a short text (the page address phones scan), made by
// libqrencode at error correction level M, and drawn two ways: as a picture
// for the window and as text for a terminal. Both include the quiet zone of
// four modules around the symbol that readers need.
class QrCode {
public:
    static constexpr int QuietZone = 4;

    // Nullopt when the text does not fit any QR version.
    static std::optional<QrCode> encode(const QString& text);

    int size() const { return m_size; } // modules per side, without the quiet zone
    bool isDark(int x, int y) const;    // false outside the symbol

    // Black modules on white, `scale` pixels per module.
    QImage toImage(int scale) const;
    // Two module rows per text line with the block characters ▀ ▄ █, drawn for
    // the light modules: on a terminal with a dark background (the usual
    // case, and the system journal) the code shows dark on light.
    QString toText() const;

private:
    QrCode(int size, std::vector<bool> modules) : m_size(size), m_modules(std::move(modules)) {}

    int m_size = 0;
    std::vector<bool> m_modules; // row by row, true for dark
};
