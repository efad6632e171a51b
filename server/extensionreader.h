#pragma once

#include <QByteArrayView>

// One part of the server that speaks verbs on a channel's extension command
// (command 7 on the drawing channel, type 9 on the text channel). The relay
// of the channel asks its readers in turn; the first that knows the message
// answers it.
class ExtensionReader {
public:
    virtual ~ExtensionReader() = default;
    // True when `message` (terminator removed) from connection k is a
    // request this reader knows; it has then been answered.
    virtual bool readExtension(int k, QByteArrayView message) = 0;
};
