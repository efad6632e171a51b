#include "httprequest.h"

namespace http {

namespace {

bool isTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// A field value holds visible characters, blanks and tabs (and obs-text).
bool isFieldValue(QByteArrayView value) {
    for (char c : value) {
        const auto u = uchar(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

bool readRequestLine(QByteArrayView line, Request& request, int& status) {
    const qsizetype firstSpace = line.indexOf(' ');
    const qsizetype lastSpace = line.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace <= firstSpace + 1)
        return false;
    const QByteArrayView method = line.first(firstSpace);
    const QByteArrayView target = line.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = line.sliced(lastSpace + 1);
    if (!isToken(method) || !target.startsWith('/') || target.contains(' '))
        return false;
    if (version.size() != 8 || !version.startsWith("HTTP/"))
        return false;
    if (version != "HTTP/1.0" && version != "HTTP/1.1") {
        status = 505;
        return false;
    }
    for (char c : target)
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return false;
    request.method = method.toByteArray();
    const qsizetype query = target.indexOf('?');
    request.path = (query < 0 ? target : target.first(query)).toByteArray();
    request.minor = version.back() - '0';
    return true;
}

// name ":" value. A line that starts with a blank would continue the last
// one (obsolete folding): refused, as is a second, different Content-Length.
bool readHeaderLine(QByteArrayView line, Request& request) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !isToken(line.first(colon)))
        return false;
    const QByteArrayView value = trimmed(line.sliced(colon + 1));
    if (!isFieldValue(value))
        return false;
    const QByteArray name = line.first(colon).toByteArray().toLower();
    if (name == "content-length" && request.hasHeader(name) && request.header(name) != value)
        return false;
    request.headers.append({name, value.toByteArray()});
    return true;
}

} // namespace

QByteArray Request::header(QByteArrayView name) const {
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return {};
}

bool Request::hasHeader(QByteArrayView name) const {
    for (const auto& entry : headers)
        if (entry.first == name)
            return true;
    return false;
}

bool Request::hasToken(QByteArrayView name, QByteArrayView token) const {
    for (const auto& [key, value] : headers) {
        if (key != name)
            continue;
        for (const QByteArray& part : value.split(','))
            if (trimmed(part).compare(token, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

std::optional<qint64> Request::contentLength() const {
    const QByteArray value = header("content-length");
    if (value.isEmpty())
        return hasHeader("content-length") ? std::nullopt : std::optional<qint64>(0);
    if (value.size() > 18)
        return std::nullopt;
    qint64 length = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        length = length * 10 + (c - '0');
    }
    return length;
}

qsizetype headEnd(QByteArrayView buffer) {
    // An empty line: "\n" right after a line end ("\n" or "\r\n").
    for (qsizetype at = buffer.indexOf('\n'); at >= 0; at = buffer.indexOf('\n', at + 1)) {
        const qsizetype next = at + 1;
        if (next < buffer.size() && buffer[next] == '\n')
            return next + 1;
        if (next + 1 < buffer.size() && buffer[next] == '\r' && buffer[next + 1] == '\n')
            return next + 2;
    }
    return -1;
}

Parsed parseHead(QByteArrayView head) {
    Parsed parsed;
    Request request;
    qsizetype at = 0;
    bool first = true;
    while (at < head.size()) {
        qsizetype end = head.indexOf('\n', at);
        if (end < 0)
            end = head.size();
        QByteArrayView line = head.sliced(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        int status = 400;
        const bool ok =
            first ? readRequestLine(line, request, status) : readHeaderLine(line, request);
        first = false;
        if (!ok) {
            parsed.status = status;
            return parsed;
        }
    }
    if (first) {
        parsed.status = 400;
        return parsed;
    }
    parsed.request = std::move(request);
    return parsed;
}

} // namespace http
