// The desktop client's picture for the browser tests, from the client's own
// classes (Canvas, DrawingChannel):
//   webcheck segments FILE   one segment per line "ox oy x y wdt colour", painted
//                            in order; prints the picture checksum after every
//                            50th segment and after the last
//   webcheck replay          reads a downstream drawing stream on stdin, applies
//                            it as a client receiving it would; prints the checksum
//   webcheck upstream        reads one builder call a line on stdin ("draw 120 -45",
//                            "color 255", "penUp", ...) and writes the line the
//                            client's builder makes for it, "\r\n" included

#include "canvas.h"
#include "drawingchannel.h"
#include "drawingline.h"
#include "snapshot.h"
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

int replay() {
    Canvas canvas;
    BlackPen pen;
    DrawingChannel channel({canvas, pen, nullptr});
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
    return "unknown\r\n";
}

int upstream() {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return 2;
    QByteArray out;
    while (!in.atEnd()) {
        const QByteArray call = in.readLine().trimmed();
        if (!call.isEmpty())
            out += upstreamLine(call.split(' '));
    }
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
        return upstream();
    std::fprintf(stderr, "usage: webcheck segments FILE | webcheck replay < stream | "
                         "webcheck upstream < calls\n");
    return 2;
}
