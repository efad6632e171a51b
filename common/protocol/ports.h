#pragma once

#include <QtGlobal>

// The fixed TCP ports of the two channels and of the browser page. Both
// programs take their defaults from here; command-line options and tests may
// move them.
namespace protocol::ports {

inline constexpr quint16 Drawing = 13467; // drawing lines, see drawingline.h
inline constexpr quint16 Text = 13468;    // chat messages, see textmessage.h
inline constexpr quint16 Page = 13469;    // the page through which browsers join

} // namespace protocol::ports
