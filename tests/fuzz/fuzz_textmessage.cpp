// Text messages: the server's reading on bytes, the client's on decoded
// text, and the CP932 encoder fed whatever the decoder produced.
#include "cp932.h"
#include "textmessage.h"

#include <cstdlib>

using namespace protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    const text::UpMessage up = text::parseUpMessage(bytes);
    if (up.payload.size() > bytes.size())
        std::abort();
    (void)text::relayedMessage(3, bytes);

    const QString decoded = fromCp932(bytes);
    if (auto down = text::parseDownMessage(decoded)) {
        if (down->payload.contains(QStringLiteral("<:>")))
            std::abort();
    }

    // Encoding never lets the converter's own error bytes through, and what
    // it writes decodes back without loss of length.
    const QByteArray encoded = toCp932(decoded);
    const QString again = fromCp932(encoded);
    if (toCp932(again) != encoded)
        std::abort();
    return 0;
}
