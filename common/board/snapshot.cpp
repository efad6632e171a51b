#include "snapshot.h"
#include "colorvalue.h"

#include <QBuffer>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <limits>

namespace boardsnapshot {

namespace {

bool isTokenChar(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Plain decimal with an optional '-': no blanks, no '+', no empty field.
std::optional<qint64> readDecimal(QStringView text, qint64 low, qint64 high) {
    qsizetype at = 0;
    const bool negative = !text.isEmpty() && text[0] == u'-';
    if (negative)
        at = 1;
    if (at >= text.size() || text.size() - at > 12)
        return std::nullopt;
    qint64 value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    value = negative ? -value : value;
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

bool isBase64Chars(QStringView text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') ||
                        (u >= u'0' && u <= u'9') || u == u'+' || u == u'/' || u == u'=';
        if (!ok)
            return false;
    }
    return true;
}

qint64 base64Length(qint64 bytes) {
    return (bytes + 2) / 3 * 4;
}

// Exact palette picture when the board holds at most 256 colours (the usual
// sketch: a few pens on white): a third of the bytes to compress.
std::optional<QImage> toPalette(const QImage& picture) {
    QHash<quint32, uchar> index;
    QList<QRgb> table;
    QImage out(picture.size(), QImage::Format_Indexed8);
    quint32 last = 0;
    uchar lastIndex = 0;
    bool haveLast = false;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* in = reinterpret_cast<const quint32*>(picture.constScanLine(y));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            const quint32 p = in[x] | 0xff000000u;
            if (!haveLast || p != last) {
                auto it = index.constFind(p);
                if (it == index.constEnd()) {
                    if (table.size() == 256)
                        return std::nullopt;
                    it = index.insert(p, uchar(table.size()));
                    table.append(p);
                }
                last = p;
                lastIndex = *it;
                haveLast = true;
            }
            dst[x] = lastIndex;
        }
    }
    out.setColorTable(table);
    return out;
}

QByteArray line(const QByteArray& text) {
    return text + "\r\n";
}

} // namespace

bool isToken(QStringView token) {
    return token.size() >= 1 && token.size() <= 16 &&
           std::all_of(token.begin(), token.end(),
                       [](QChar c) { return isTokenChar(c.unicode()); });
}
bool isToken(QByteArrayView token) {
    return token.size() >= 1 && token.size() <= 16 &&
           std::all_of(token.begin(), token.end(), [](char c) { return isTokenChar(uchar(c)); });
}

quint32 checksum(const QImage& picture) {
    const QImage rgb = picture.format() == QImage::Format_RGB32
                           ? picture
                           : picture.convertToFormat(QImage::Format_RGB32);
    quint32 h = 2166136261u;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            h = (h ^ quint32(protocol::valueFromArgb(row[x]))) * 16777619u;
    }
    return h;
}

QByteArray encodePng(const QImage& picture) {
    const std::optional<QImage> palette = toPalette(picture);
    const QImage& source = palette ? *palette : picture;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Qt maps quality to the zlib level (100 - quality) * 9 / 91: 50 gives
    // level 4. Measured on a typical sketch: level 1 is 40% larger for 15%
    // less time, level 9 a quarter smaller for six times the time (and 17x
    // on a busy picture).
    writer.setQuality(50);
    writer.write(source.format() == QImage::Format_Indexed8
                     ? source
                     : source.convertToFormat(QImage::Format_RGB888));
    return png;
}

QByteArray snapRequestLine(QByteArrayView token) {
    return line("7:snap " + token.toByteArray());
}
QByteArray sumRequestLine(QByteArrayView token) {
    return line("7:sum " + token.toByteArray());
}

std::optional<Request> parseRequest(QByteArrayView text) {
    Request request;
    QByteArrayView token;
    if (text.startsWith("7:snap ")) {
        token = text.sliced(7);
    } else if (text.startsWith("7:sum ")) {
        request.kind = Request::Sum;
        token = text.sliced(6);
    } else {
        return std::nullopt;
    }
    if (!isToken(token))
        return std::nullopt;
    request.token = token.toByteArray();
    return request;
}

EncodedPicture encodePicture(const QImage& picture) {
    EncodedPicture encoded;
    const QByteArray png = encodePng(picture);
    encoded.pngBytes = png.size();
    encoded.base64 = png.toBase64();
    encoded.checksum = checksum(picture);
    return encoded;
}

QByteArray snapshotReply(QByteArrayView token, const EncodedPicture& picture,
                         const Board::Pens& pens) {
    const QByteArray tok = token.toByteArray();
    const QByteArray& base64 = picture.base64;
    const qsizetype chunks = (base64.size() + MaxChunk - 1) / MaxChunk;
    QByteArray out;
    out.reserve(base64.size() + chunks * 32 + 2048);
    out += line("0:7:board " + tok + ' ' + QByteArray::number(Board::Width) + ' ' +
                QByteArray::number(Board::Height) + ' ' + QByteArray::number(picture.pngBytes) +
                ' ' + QByteArray::number(chunks));
    for (qsizetype at = 0; at < base64.size(); at += MaxChunk) {
        out += "0:7:data " + tok + ' ';
        out += QByteArrayView(base64).sliced(at, qMin<qsizetype>(MaxChunk, base64.size() - at));
        out += "\r\n";
    }
    for (int i = 0; i < Board::Slots; ++i) {
        const Board::Pen& pen = pens[size_t(i)];
        out += line("0:7:pen " + tok + ' ' + QByteArray::number(i) + ' ' +
                    QByteArray::number(pen.x) + ' ' + QByteArray::number(pen.y) + ' ' +
                    QByteArray::number(pen.color) + ' ' + QByteArray::number(pen.size));
    }
    out += line("0:7:end " + tok + ' ' + QByteArray::number(picture.checksum));
    return out;
}

QByteArray sumReply(QByteArrayView token, quint32 checksum) {
    return line("0:7:sum " + token.toByteArray() + ' ' + QByteArray::number(checksum));
}

void Encoder::refreshSum() {
    if (m_haveSum && m_sumRevision == m_board.revision())
        return;
    m_sum = checksum(m_board.image());
    m_sumRevision = m_board.revision();
    m_haveSum = true;
}

void Encoder::refresh() {
    if (m_havePicture && m_pictureRevision == m_board.revision())
        return;
    m_picture = encodePicture(m_board.image());
    m_pictureRevision = m_board.revision();
    m_havePicture = true;
    m_sum = m_picture.checksum;
    m_sumRevision = m_pictureRevision;
    m_haveSum = true;
}

quint32 Encoder::currentChecksum() {
    refreshSum();
    return m_sum;
}

QByteArray Encoder::snapshotReply(QByteArrayView token) {
    refresh();
    return boardsnapshot::snapshotReply(token, m_picture, m_board.pens());
}

QByteArray Encoder::sumReply(QByteArrayView token) {
    return boardsnapshot::sumReply(token, currentChecksum());
}

Reader::Event Reader::reject(const QString& token) {
    m_pending.reset();
    Event event;
    event.kind = Event::Rejected;
    event.token = token;
    return event;
}

Reader::Event Reader::feed(QStringView argument) {
    const QList<QStringView> f = argument.split(u' ');
    const QStringView verb = f.value(0);
    const QString pendingToken = m_pending ? m_pending->token : QString();
    if (verb == u"sum") {
        const auto sum = f.size() == 3 && isToken(f[1])
                             ? readDecimal(f[2], 0, std::numeric_limits<quint32>::max())
                             : std::nullopt;
        if (m_pending) // a snapshot is one block: nothing may come between
            return reject(pendingToken);
        if (!sum)
            return {};
        Event event;
        event.kind = Event::Sum;
        event.token = f[1].toString();
        event.checksum = quint32(*sum);
        return event;
    }
    if (verb == u"board") {
        if (m_pending)
            return reject(pendingToken);
        return begin(f);
    }
    if (verb != u"data" && verb != u"pen" && verb != u"end")
        return {}; // another extension's line, or a relayed request: not ours
    if (!m_pending)
        return {};
    if (f.size() < 2 || f[1] != m_pending->token)
        return reject(pendingToken);
    if (verb == u"data")
        return addData(f) ? Event{} : reject(pendingToken);
    if (verb == u"pen")
        return addPen(f) ? Event{} : reject(pendingToken);
    return finish(f);
}

// "board <tok> <width> <height> <bytes> <chunks>": only the board's own size,
// and a size whose base64 fits the limit in exactly <chunks> full lines.
Reader::Event Reader::begin(const QList<QStringView>& f) {
    if (f.size() != 6 || !isToken(f[1]))
        return {};
    const auto width = readDecimal(f[2], 0, 100000);
    const auto height = readDecimal(f[3], 0, 100000);
    const auto bytes = readDecimal(f[4], 1, MaxBase64);
    const auto chunks = readDecimal(f[5], 1, MaxBase64);
    const QString token = f[1].toString();
    if (!width || !height || !bytes || !chunks || *width != Board::Width ||
        *height != Board::Height)
        return reject(token);
    const qint64 length = base64Length(*bytes);
    if (length > MaxBase64 || *chunks < (length + MaxChunk - 1) / MaxChunk || *chunks > length)
        return reject(token);
    Pending pending;
    pending.token = token;
    pending.bytes = *bytes;
    pending.chunks = *chunks;
    m_pending = std::move(pending);
    return {};
}

bool Reader::addData(const QList<QStringView>& f) {
    Pending& p = *m_pending;
    if (f.size() != 3 || p.chunksSeen >= p.chunks || p.pensSeen > 0)
        return false;
    const QStringView chunk = f[2];
    const qint64 room = base64Length(p.bytes) - p.base64.size();
    const bool last = p.chunksSeen + 1 == p.chunks;
    // The sizes must add up exactly: the last chunk fills what is left.
    if (chunk.isEmpty() || chunk.size() > MaxChunk || chunk.size() > room ||
        (last && chunk.size() != room) || !isBase64Chars(chunk))
        return false;
    p.base64 += chunk.toLatin1();
    ++p.chunksSeen;
    return true;
}

bool Reader::addPen(const QList<QStringView>& f) {
    Pending& p = *m_pending;
    if (f.size() != 7 || p.chunksSeen != p.chunks || p.pensSeen >= Board::Slots)
        return false;
    const auto index = readDecimal(f[2], 0, Board::Slots - 1);
    const auto x = readDecimal(f[3], -32768, 32767);
    const auto y = readDecimal(f[4], -32768, 32767);
    const auto colour =
        readDecimal(f[5], std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    const auto size = readDecimal(f[6], -32768, 32767);
    if (!index || *index != p.pensSeen || !x || !y || !colour || !size)
        return false;
    p.pens[p.pensSeen++] = Board::Pen{qint16(*x), qint16(*y), qint32(*colour), qint16(*size)};
    return true;
}

Reader::Event Reader::finish(const QList<QStringView>& f) {
    Pending p = std::move(*m_pending);
    m_pending.reset();
    const auto sum =
        f.size() == 3 ? readDecimal(f[2], 0, std::numeric_limits<quint32>::max()) : std::nullopt;
    if (!sum || p.chunksSeen != p.chunks || p.pensSeen != Board::Slots)
        return reject(p.token);
    const auto decoded =
        QByteArray::fromBase64Encoding(p.base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != p.bytes)
        return reject(p.token);
    QByteArray png = decoded.decoded;
    QBuffer buffer(&png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    // The size is checked before any pixel is allocated.
    if (reader.size() != QSize(Board::Width, Board::Height))
        return reject(p.token);
    QImage picture = reader.read();
    if (picture.size() != QSize(Board::Width, Board::Height))
        return reject(p.token);
    picture = picture.convertToFormat(QImage::Format_RGB32);
    if (checksum(picture) != quint32(*sum))
        return reject(p.token);
    Event event;
    event.kind = Event::Snapshot;
    event.token = p.token;
    event.checksum = quint32(*sum);
    event.picture = std::move(picture);
    event.pens = p.pens;
    return event;
}

} // namespace boardsnapshot
