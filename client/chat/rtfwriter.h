#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

// A small RTF writer for the conversation box, which Qt cannot save as RTF.
//
// Output: {\rtf1\ansi\ansicpg932 ...} with a font table (the chat's two
// faces first, as \f0 gothic and \f1 mincho, then any other face met, all with
// \fcharset128 and their names as CP932 bytes), a colour table (entry 0 is the
// reader's automatic colour), then one \pard paragraph per text block with its
// left and first-line indents in twips (15 per pixel) and one group per run:
// {\fN\hich\afN\dbch\afN\loch\fN\fsN\cfN text} (the face named for single-byte,
// high-ANSI and double-byte text alike). Text outside ASCII is written as \uN (a signed 16-bit
// UTF-16 unit) followed by its CP932 bytes as the fallback for readers that
// ignore \u; \ucN announces how many fallback bytes follow.
namespace rtf {

inline constexpr int TwipsPerPixel = 15;

QByteArray fromDocument(const QTextDocument& document);

// Writes the RTF of `document` to `fileName` through a temporary file, so a
// failed write leaves any earlier file untouched. False when it failed.
bool saveDocument(const QTextDocument& document, const QString& fileName);

} // namespace rtf
