// Framing with reassembly: the same stream cut at arbitrary arrival
// boundaries must give the same pieces as one arrival, and the kept tail
// never passes the cap.
#include "framesplitter.h"

#include <cstdlib>

using protocol::FrameSplitter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // First byte: terminator choice and cut pattern seed.
    const QByteArray terminator = (data[0] & 1) ? QByteArray("%EOT%") : QByteArray("\r\n");
    const uint8_t seed = data[0];
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    FrameSplitter whole(terminator);
    const QList<QByteArray> expected = whole.feed(stream);

    FrameSplitter pieces(terminator);
    QList<QByteArray> got;
    qsizetype at = 0;
    unsigned step = seed | 1u;
    while (at < stream.size()) {
        step = step * 1103515245u + 12345u;
        const qsizetype len = qMin<qsizetype>(stream.size() - at, 1 + (step >> 16) % 9);
        got += pieces.feed(stream.sliced(at, len));
        if (pieces.pendingSize() > FrameSplitter::DefaultCap)
            std::abort();
        at += len;
    }
    if (got != expected || pieces.pendingSize() != whole.pendingSize())
        std::abort();
    for (const QByteArray& piece : got)
        if (piece.isEmpty() || piece.contains(terminator))
            std::abort();

    // A small cap keeps memory bounded and never loses a later whole line.
    FrameSplitter capped(terminator, 8);
    capped.feed(stream);
    if (capped.pendingSize() > 8)
        std::abort();
    return 0;
}
