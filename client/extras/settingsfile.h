#pragma once

#include "chatsettings.h"

#include <QByteArray>
#include <QString>
#include <array>

// The client's settings file "reduza.ini": the eight palette colours and the
// five chat settings. Text in CP932, one "key=value" line each, ended by CR LF.
//
//   pPalette0 =255          palette lines: the key must begin the line; the
//   ...                     cell is the key's ninth character, 0..7
//   cFontName=0             chat keys: blanks around key and value ignored,
//   cFontSize=10            compared case-sensitively
//   cFontColor=0
//   cFontBackColor=16777215
//   cMyName=name            the value is everything after the first '='
//
// Only the first 20 lines are read; unknown keys and lines without '=' are
// skipped, as is a value that does not fit its setting. The file lives in
// `directory` (the current directory when empty) and is always written
// through a temporary file in the same folder that replaces the old one only
// once it is complete.
namespace settingsfile {

inline constexpr char FileName[] = "reduza.ini";
inline constexpr int MaxLines = 20;
using Palette = std::array<qint32, 8>;

// Reads the file into the settings and the palette; creates the default file
// first when there is none. A file that exists but cannot be read changes
// nothing.
void confLoad(ChatSettings& settings, Palette& palette, const QString& directory = QString());

// Writes all settings (13 lines). False when the file could not be written;
// the previous file is then left as it was.
bool confSave(const ChatSettings& settings, const Palette& palette,
              const QString& directory = QString());

// Writes the default file and reads it back. When it cannot be written the
// defaults are still taken into memory. False when the write failed.
bool confCreate(ChatSettings& settings, Palette& palette, const QString& directory = QString());

// The exact bytes of both kinds of file.
QByteArray savedText(const ChatSettings& settings, const Palette& palette);
QByteArray defaultText();

// Applies settings-file content (at most the first 20 lines) as confLoad does.
void applyText(const QByteArray& content, ChatSettings& settings, Palette& palette);

} // namespace settingsfile
