// The desktop client's picture for the browser tests, from the client's own
// classes (Canvas, DrawingChannel):
//   webcheck segments FILE   one segment per line "ox oy x y wdt colour", painted
//                            in order; prints the picture checksum after every
//                            50th segment and after the last
//   webcheck replay          reads a downstream drawing stream on stdin, applies
//                            it as a client receiving it would; prints the checksum
//   webcheck upstream        reads one builder call a line on stdin ("draw 120 -45",
//                            "color 255", "penUp", "me <id> <hex>", ...) and writes
//                            the line the client's builder makes for it, "\r\n"
//                            included (<hex>: the UTF-8 of a name in hex)
//   webcheck undodown        the same for the server's undo lines ("answer undo tok done
//                            3 1", "can 2 0", "cleared 4 1 <hex>", "restored 4 <hex>",
//                            "patch x y w h checksum": a w x h picture of a fixed pattern)
//   webcheck losses          reads UTF-8 text on stdin and writes "start length"
//                            (UTF-16 units) for each run of characters that
//                            the text channel's code page does not carry

#include "canvas.h"
#include "cp932.h"
#include "drawingchannel.h"
#include "drawingline.h"
#include "snapshot.h"
#include "undocontrol.h"
#include "undowire.h"
#include "windowviews.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <cstdio>

namespace {

using boardsnapshot::checksum;

int segments(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 2;
    Canvas canvas;
    int count = 0;
    QTextStream out(stdout);
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().simplified().split(' ');
        if (f.size() != 6)
            continue;
        canvas.lineWrite(qint16(f[0].toInt()), qint16(f[1].toInt()), qint16(f[2].toInt()),
                         qint16(f[3].toInt()), qint16(f[4].toInt()), f[5].toInt());
        if (++count % 50 == 0)
            out << checksum(canvas.image()) << '\n';
    }
    if (count % 50 != 0)
        out << checksum(canvas.image()) << '\n';
    return 0;
}

struct BlackPen : PenView {
    qint32 penColor() const override { return 0; }
    qint16 penWidth() const override { return 0; }
};

struct NoMenu : UndoView, NoticeView {
    void showUndoState(bool, bool, bool) override {}
    void showNotice(NoticeKind, const QString&) override {}
    void clearNotice(NoticeKind) override {}
};

int replay() {
    Canvas canvas;
    BlackPen pen;
    DrawingChannel channel({canvas, pen, nullptr});
    NoMenu menu;
    UndoControl undo({channel, canvas, menu, menu, nullptr, nullptr}); // pastes the patches
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return 2;
    channel.receive(in.readAll());
    std::printf("%u\n", checksum(canvas.image()));
    return 0;
}

QByteArray upstreamLine(const QList<QByteArray>& call) {
    namespace d = protocol::drawing;
    const auto arg = [&](int i) { return i < call.size() ? call[i].toInt() : 0; };
    const QByteArray& name = call.value(0);
    if (name == "penUp")
        return d::penUpLine();
    if (name == "penDown")
        return d::penDownLine(arg(1), arg(2));
    if (name == "draw")
        return d::drawLine(arg(1), arg(2));
    if (name == "clearAll")
        return d::clearAllLine();
    if (name == "color")
        return d::colorLine(arg(1));
    if (name == "width")
        return d::widthLine(arg(1));
    if (name == "erase")
        return d::eraseLine(arg(1), arg(2));
    if (name == "memberRequest")
        return d::memberRequestLine();
    if (name == "snapRequest")
        return boardsnapshot::snapRequestLine(call.value(1));
    if (name == "me")
        return undowire::meLine(call.value(1),
                                QString::fromUtf8(QByteArray::fromHex(call.value(2))));
    if (name == "undo")
        return undowire::undoLine(call.value(1));
    if (name == "redo")
        return undowire::redoLine(call.value(1));
    return "unknown\r\n";
}

// A w x h picture of many colours, so its PNG does not shrink to nothing.
QImage pattern(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y) & 255, (x * y) & 255, (x + 3 * y) & 255));
    return image;
}

QByteArray downstreamLine(const QList<QByteArray>& call) {
    namespace u = undowire;
    const auto arg = [&](int i) { return call.value(i).toLongLong(); };
    const QByteArray& name = call.value(0);
    const auto outcome = [](const QByteArray& word) {
        return word == "done"   ? u::Outcome::Done
               : word == "busy" ? u::Outcome::Busy
                                : u::Outcome::None;
    };
    const auto person = [&](int i) {
        return QString::fromUtf8(QByteArray::fromHex(call.value(i)));
    };
    if (name == "answer")
        return u::answerLine(call.value(1) == "redo" ? u::Request::Redo : u::Request::Undo,
                             call.value(2), outcome(call.value(3)), int(arg(4)), int(arg(5)));
    if (name == "can")
        return u::canLine(int(arg(1)), int(arg(2)));
    if (name == "cleared")
        return u::clearedLine(int(arg(1)), arg(2) != 0, person(3));
    if (name == "restored")
        return u::restoredLine(int(arg(1)), person(2));
    if (name == "patch") {
        const QRect area(int(arg(1)), int(arg(2)), int(arg(3)), int(arg(4)));
        return u::patchBlock(area, pattern(area.width(), area.height()), quint32(arg(5)));
    }
    return "unknown\r\n";
}

int builders(QByteArray (*build)(const QList<QByteArray>&)) {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return 2;
    QByteArray out;
    while (!in.atEnd()) {
        const QByteArray call = in.readLine().trimmed();
        if (!call.isEmpty())
            out += build(call.split(' '));
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}

int losses() {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return 2;
    QByteArray out;
    for (const protocol::TextSpan& span : protocol::cp932Losses(QString::fromUtf8(in.readAll())))
        out += QByteArray::number(span.start) + ' ' + QByteArray::number(span.length) + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == u"segments")
        return segments(args[2]);
    if (args.size() == 2 && args[1] == u"replay")
        return replay();
    if (args.size() == 2 && args[1] == u"upstream")
        return builders(upstreamLine);
    if (args.size() == 2 && args[1] == u"undodown")
        return builders(downstreamLine);
    if (args.size() == 2 && args[1] == u"losses")
        return losses();
    std::fprintf(stderr, "usage: webcheck segments FILE | webcheck replay < stream | "
                         "webcheck upstream < calls | webcheck undodown < calls | "
                         "webcheck losses < text\n");
    return 2;
}
