// Drawing lines in both directions: the server's upstream reading on raw
// bytes and the client's downstream reading on decoded text.
#include "cp932.h"
#include "drawingline.h"
#include "numbers.h"

#include <cstdlib>

using namespace protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    const drawing::UpLine up = drawing::parseUpLine(bytes);
    if (up.data && up.data->size() > bytes.size())
        std::abort();
    const QByteArray relayed = drawing::relayedLine(20, bytes);
    if (!relayed.endsWith("\r\n") || relayed.size() != bytes.size() + 5)
        std::abort();

    const QString text = fromCp932(bytes);
    if (auto down = drawing::readDownLine(text)) {
        if (down->command >= 9 && readNumber(text.section(u':', 1, 1)) >= 9)
            std::abort();
        const drawing::PointText p = drawing::splitPoint(down->argument);
        (void)readInt16(p.x);
        if (p.y)
            (void)readInt16(*p.y);
    }
    (void)readInt32(text);
    return 0;
}
