#include "undowire.h"

#include "board.h"
#include "snapshot.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>
#include <algorithm>
#include <limits>

namespace undowire {

namespace {

bool isIdChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isId(QByteArrayView id) {
    return id.size() >= 8 && id.size() <= 32 && std::all_of(id.begin(), id.end(), isIdChar);
}

// Plain decimal with an optional '-', within [low, high].
std::optional<qint64> readDecimal(QStringView text, qint64 low, qint64 high) {
    bool ok = false;
    if (text.isEmpty() || text.size() > 12 || text.startsWith(u'+') || text.contains(u' '))
        return std::nullopt;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

QByteArray line(const QByteArray& text) {
    return text + "\r\n";
}

QByteArray num(qint64 v) {
    return QByteArray::number(v);
}

const char* outcomeWord(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return "done";
    case Outcome::Busy:
        return "busy";
    default:
        return "none";
    }
}

} // namespace

QByteArray nameField(const QString& name) {
    QByteArray utf8 = name.toUtf8();
    if (utf8.isEmpty())
        return "-";
    if (utf8.size() > MaxNameBytes) { // cut at a character boundary
        utf8.truncate(MaxNameBytes);
        while (!utf8.isEmpty() && (uchar(utf8.back()) & 0xc0) == 0x80)
            utf8.chop(1);
        if (!utf8.isEmpty() && uchar(utf8.back()) >= 0xc0)
            utf8.chop(1);
    }
    return utf8.toBase64();
}

std::optional<QString> readName(QStringView field) {
    if (field == u"-")
        return QString();
    if (field.isEmpty() || field.size() > (MaxNameBytes + 2) / 3 * 4)
        return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(field.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return QString::fromUtf8(decoded.decoded);
}

std::optional<Request> parseRequest(QByteArrayView text) {
    const QList<QByteArray> f = text.toByteArray().split(' ');
    Request request;
    if (f.size() == 3 && f[0] == "7:me" && isId(f[1])) {
        const auto name = readName(QString::fromLatin1(f[2]));
        if (!name)
            return std::nullopt;
        request.kind = Request::Me;
        request.token = f[1];
        request.name = *name;
        return request;
    }
    if (f.size() != 2 || !boardsnapshot::isToken(QByteArrayView(f[1])))
        return std::nullopt;
    if (f[0] == "7:undo")
        request.kind = Request::Undo;
    else if (f[0] == "7:redo")
        request.kind = Request::Redo;
    else
        return std::nullopt;
    request.token = f[1];
    return request;
}

QByteArray memberOf(QByteArrayView id) {
    return QCryptographicHash::hash(id, QCryptographicHash::Sha256).left(8).toHex();
}

QByteArray meLine(QByteArrayView id, const QString& name) {
    return line("7:me " + id.toByteArray() + ' ' + nameField(name));
}
QByteArray undoLine(QByteArrayView token) {
    return line("7:undo " + token.toByteArray());
}
QByteArray redoLine(QByteArrayView token) {
    return line("7:redo " + token.toByteArray());
}

QByteArray answerLine(Request::Kind kind, QByteArrayView token, Outcome outcome, int undos,
                      int redos) {
    return line(QByteArray(kind == Request::Redo ? "0:7:redo " : "0:7:undo ") +
                token.toByteArray() + ' ' + outcomeWord(outcome) + ' ' + num(undos) + ' ' +
                num(redos));
}

QByteArray canLine(int undos, int redos) {
    return line("0:7:can " + num(undos) + ' ' + num(redos));
}

QByteArray patchBlock(const QRect& area, const QImage& pixels, quint32 checksum) {
    return patchBlockOfPng(area, boardsnapshot::encodePng(pixels), checksum);
}

QByteArray patchBlockOfPng(const QRect& area, const QByteArray& png, quint32 checksum) {
    const QByteArray base64 = png.toBase64();
    const qsizetype chunks = (base64.size() + MaxPatchChunk - 1) / MaxPatchChunk;
    QByteArray out =
        line("0:7:patch " + num(area.x()) + ' ' + num(area.y()) + ' ' + num(area.width()) + ' ' +
             num(area.height()) + ' ' + num(png.size()) + ' ' + num(chunks) + ' ' + num(checksum));
    for (qsizetype at = 0; at < base64.size(); at += MaxPatchChunk)
        out += line("0:7:pdata " + base64.mid(at, MaxPatchChunk));
    return out;
}

QByteArray clearedLine(int index, bool undoable, const QString& name) {
    return line("0:7:cleared " + num(index) + ' ' + (undoable ? "1 " : "0 ") + nameField(name));
}
QByteArray restoredLine(int index, const QString& name) {
    return line("0:7:restored " + num(index) + ' ' + nameField(name));
}

QByteArray memberMarker(int index, QByteArrayView member) {
    return line(num(index) + ":7:me " +
                (member.isEmpty() ? QByteArray("-") : member.toByteArray()));
}
QByteArray takeBackMarker(int index, bool undo, int action) {
    return line(num(index) + (undo ? ":7:undo " : ":7:redo ") + num(action));
}
QByteArray epochMarker() {
    return line("0:7:epoch");
}
QByteArray baseBlock(int index, const QImage& picture) {
    return baseBlockOfPng(index, boardsnapshot::encodePng(picture));
}

QByteArray baseBlockOfPng(int index, const QByteArray& png) {
    const QByteArray base64 = png.toBase64();
    const qsizetype chunks = (base64.size() + MaxBaseChunk - 1) / MaxBaseChunk;
    const QByteArray prefix = num(index) + ":7:";
    QByteArray out = line(prefix + "base " + num(png.size()) + ' ' + num(chunks));
    for (qsizetype at = 0; at < base64.size(); at += MaxBaseChunk)
        out += line(prefix + "bdata " + base64.mid(at, MaxBaseChunk));
    return out;
}

Reader::Event Reader::reject() {
    m_pending.reset();
    Event event;
    event.kind = Event::Rejected;
    return event;
}

Reader::Event Reader::feed(QStringView argument) {
    const QList<QStringView> f = argument.split(u' ');
    const QStringView verb = f.value(0);
    if (verb == u"pdata")
        return m_pending ? addData(f) : Event{};
    if (m_pending) // a patch is one block: nothing of ours comes between
        return reject();
    Event event;
    if ((verb == u"undo" || verb == u"redo") && f.size() == 5 && boardsnapshot::isToken(f[1])) {
        const auto undos = readDecimal(f[3], 0, 1 << 20), redos = readDecimal(f[4], 0, 1 << 20);
        const QStringView word = f[2];
        if (!undos || !redos || (word != u"done" && word != u"none" && word != u"busy"))
            return {};
        event.kind = Event::Answer;
        event.request = verb == u"redo" ? Request::Redo : Request::Undo;
        event.token = f[1].toString();
        event.outcome = word == u"done"   ? Outcome::Done
                        : word == u"busy" ? Outcome::Busy
                                          : Outcome::None;
        event.undos = int(*undos);
        event.redos = int(*redos);
    } else if (verb == u"can" && f.size() == 3) {
        const auto undos = readDecimal(f[1], 0, 1 << 20), redos = readDecimal(f[2], 0, 1 << 20);
        if (!undos || !redos)
            return {};
        event.kind = Event::Can;
        event.undos = int(*undos);
        event.redos = int(*redos);
    } else if ((verb == u"cleared" && f.size() == 4) || (verb == u"restored" && f.size() == 3)) {
        const auto index = readDecimal(f[1], 0, 65535);
        const bool cleared = verb == u"cleared";
        const auto name = readName(f.back());
        if (!index || !name || (cleared && f[2] != u"0" && f[2] != u"1"))
            return {};
        event.kind = cleared ? Event::Cleared : Event::Restored;
        event.index = int(*index);
        event.undoable = cleared && f[2] == u"1";
        event.name = *name;
    } else if (verb == u"patch") {
        return begin(f);
    }
    return event; // anything else belongs to another verb
}

// "patch <x> <y> <w> <h> <bytes> <chunks> <checksum>": a rectangle inside
// the board, a size whose base64 fits the limit in exactly <chunks> lines.
Reader::Event Reader::begin(const QList<QStringView>& f) {
    if (f.size() != 8)
        return reject();
    const auto x = readDecimal(f[1], 0, Board::Width - 1),
               y = readDecimal(f[2], 0, Board::Height - 1);
    const auto w = readDecimal(f[3], 1, Board::Width), h = readDecimal(f[4], 1, Board::Height);
    const auto bytes = readDecimal(f[5], 1, boardsnapshot::MaxBase64);
    const auto chunks = readDecimal(f[6], 1, boardsnapshot::MaxBase64);
    const auto sum = readDecimal(f[7], 0, std::numeric_limits<quint32>::max());
    if (!x || !y || !w || !h || !bytes || !chunks || !sum || *x + *w > Board::Width ||
        *y + *h > Board::Height)
        return reject();
    const qint64 length = (*bytes + 2) / 3 * 4;
    if (length > boardsnapshot::MaxBase64 ||
        *chunks != (length + MaxPatchChunk - 1) / MaxPatchChunk)
        return reject();
    Pending pending;
    pending.area = QRect(int(*x), int(*y), int(*w), int(*h));
    pending.bytes = *bytes;
    pending.chunks = *chunks;
    pending.checksum = quint32(*sum);
    m_pending = std::move(pending);
    return {};
}

Reader::Event Reader::addData(const QList<QStringView>& f) {
    Pending& p = *m_pending;
    const qint64 room = (p.bytes + 2) / 3 * 4 - p.base64.size();
    if (f.size() != 2 || f[1].isEmpty() || f[1].size() > MaxPatchChunk || f[1].size() > room)
        return reject();
    p.base64 += f[1].toLatin1();
    if (++p.seen < p.chunks)
        return {};
    return p.base64.size() == (p.bytes + 2) / 3 * 4 ? finish() : reject();
}

Reader::Event Reader::finish() {
    Pending p = std::move(*m_pending);
    m_pending.reset();
    const auto decoded =
        QByteArray::fromBase64Encoding(p.base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != p.bytes)
        return reject();
    QByteArray png = decoded.decoded;
    QBuffer buffer(&png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    if (reader.size() != p.area.size()) // checked before any pixel is allocated
        return reject();
    QImage pixels = reader.read();
    if (pixels.size() != p.area.size())
        return reject();
    Event event;
    event.kind = Event::Patch;
    event.area = p.area;
    event.pixels = pixels.convertToFormat(QImage::Format_RGB32);
    event.checksum = p.checksum;
    return event;
}

} // namespace undowire
