// The page port's readers on arbitrary bytes: a request head is accepted or
// refused with a status, never anything else; the WebSocket frame reader
// gives the same events however the bytes are cut, stops at its first
// error, and never holds more than one message of the cap.
#include "httprequest.h"
#include "websocketframes.h"

#include <cstdlib>

namespace {

constexpr qint64 Cap = 1024;

bool sameEvents(const std::vector<websocket::Event>& a, const std::vector<websocket::Event>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].text != b[i].text || a[i].payload != b[i].payload ||
            a[i].code != b[i].code)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    const qsizetype end = http::headEnd(bytes);
    const http::Parsed parsed = http::parseHead(end < 0 ? bytes : bytes.first(end));
    if (parsed.request.has_value() == (parsed.status != 0))
        std::abort();
    if (parsed.request && !parsed.request->path.startsWith('/'))
        std::abort();

    websocket::FrameReader whole(Cap);
    const std::vector<websocket::Event> expected = whole.feed(bytes);
    websocket::FrameReader pieces(Cap);
    std::vector<websocket::Event> got;
    unsigned step = size ? data[0] | 1u : 1u;
    for (qsizetype at = 0; at < bytes.size();) {
        step = step * 1103515245u + 12345u;
        const qsizetype len = qMin<qsizetype>(bytes.size() - at, 1 + (step >> 16) % 17);
        for (websocket::Event& event : pieces.feed(bytes.sliced(at, len)))
            got.push_back(std::move(event));
        at += len;
    }
    if (!sameEvents(expected, got))
        std::abort();
    for (size_t i = 0; i < got.size(); ++i) {
        const websocket::Event& event = got[i];
        if (event.kind == websocket::Event::Error && i + 1 != got.size())
            std::abort(); // nothing after an error
        if (event.kind == websocket::Event::TextMessage && event.text.toUtf8().size() > Cap)
            std::abort();
        if ((event.kind == websocket::Event::PingFrame ||
             event.kind == websocket::Event::PongFrame) &&
            event.payload.size() > 125)
            std::abort();
    }
    return 0;
}
