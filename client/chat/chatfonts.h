#pragma once

#include <QString>
#include <QtGlobal>

// The two faces the chat uses and the font-size rules shared by the
// conversation box, the formatting buffer and the input box. The face names
// are the chat's own (full-width "ＭＳ" and one ordinary blank); they go into
// saved RTF files as they are, and the program start-up maps them onto
// installed fonts.
namespace chatfonts {

inline QString gothicFace() {
    return QStringLiteral("ＭＳ ゴシック");
}
inline QString minchoFace() {
    return QStringLiteral("ＭＳ 明朝");
}

// The face values of the settings and the text channel: 1 is mincho, every
// other value gothic.
inline constexpr qint16 Gothic = 0;
inline constexpr qint16 Mincho = 1;

inline QString faceName(qint16 face) {
    return face == Mincho ? minchoFace() : gothicFace();
}

// Size of the buffer's and the boxes' own font, used wherever a member or the
// settings give no usable size.
inline constexpr int DefaultPointSize = 9;

// A rich-text run takes sizes the way the conversation box always has:
// 1 to 1638 points; anything else is refused and the previous size stays.
inline bool isRunSize(int points) {
    return points >= 1 && points <= 1638;
}

// The input box must stay usable: a stored size outside 1..72 (0 from a
// settings file without the size key) leaves it at the default size.
inline bool isInputSize(int points) {
    return points >= 1 && points <= 72;
}

} // namespace chatfonts
