// The client's drawing channel and receiver applied to a real canvas:
// arbitrary bytes arrive on the drawing channel, whole and cut at arbitrary
// boundaries, and arbitrary decoded text goes through drawDataProc as a log
// being played back. Besides crashes and undefined behaviour it checks:
// - the ASCII decoding shortcut gives what the CP932 decoder gives;
// - the same stream cut into pieces leaves the same pen tables and member
//   count as one arrival, so reassembly never loses or doubles a line;
// - log-playback lines never refresh the preview on pen-up.
//
// Input: byte 0 picks the cut pattern, the rest is the stream.
#include "canvas.h"
#include "cp932.h"
#include "drawingchannel.h"
#include "drawingline.h"
#include "drawreceiver.h"
#include "windowviews.h"

#include <cstdlib>

namespace {

// Canvases for the whole run: clearing 1600 x 1200 pixels per input would
// cost more than the lines themselves, and pixels never steer the receiver.
// The pens live with the canvas's board, so each receiver compared has its
// own; the whole and the cut one start every input with equal pens, since
// they ended the previous one equal.
Canvas& canvas(int which) {
    static Canvas instances[3];
    return instances[which];
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

struct BlackPen : PenView {
    qint32 penColor() const override { return 0; }
    qint16 penWidth() const override { return 0; }
};

bool sameTables(const DrawReceiver& a, const DrawReceiver& b) {
    for (int i = 0; i < DrawReceiver::Slots; ++i) {
        if (a.penX(i) != b.penX(i) || a.penY(i) != b.penY(i) || a.penColor(i) != b.penColor(i) ||
            a.penSize(i) != b.penSize(i))
            return false;
    }
    return a.memCount() == b.memCount();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t seed = data[0];
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // Every framed line, decoded both ways.
    for (const QByteArray& line : QByteArray(stream.data(), stream.size()).split('\n')) {
        QByteArray piece = line;
        if (piece.endsWith('\r'))
            piece.chop(1);
        check(protocol::drawing::decodeText(piece) == protocol::fromCp932(piece));
    }

    // One arrival against the same bytes cut into pieces of 1..16 bytes.
    int refreshWhole = 0, refreshCut = 0;
    const BlackPen pen;
    DrawingChannel whole({canvas(0), pen, [&] { ++refreshWhole; }});
    DrawingChannel cut({canvas(1), pen, [&] { ++refreshCut; }});
    whole.receive(stream);
    unsigned step = seed | 1u;
    for (qsizetype at = 0; at < stream.size();) {
        step = step * 1103515245u + 12345u;
        const qsizetype len = qMin<qsizetype>(stream.size() - at, 1 + (step >> 16) % 16);
        cut.receive(stream.sliced(at, len));
        at += len;
    }
    check(sameTables(whole.receiver(), cut.receiver()));
    check(refreshWhole == refreshCut);

    // The same text as a log player would feed it: pen-up lines leave the
    // preview alone, clear-all lines refresh it.
    int refreshPlayed = 0;
    DrawReceiver played(canvas(2), [&] { ++refreshPlayed; });
    const QString text = protocol::fromCp932(stream);
    played.drawDataProc(text, DrawReceiver::Source::Playback);
    int clears = 0;
    for (QStringView piece : QStringView(text).split(u"\r\n")) {
        if (const auto line = protocol::drawing::readDownLine(piece))
            clears += line->command == protocol::drawing::ClearAll;
    }
    check(refreshPlayed == clears);
    return 0;
}
