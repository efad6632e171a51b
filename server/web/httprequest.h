#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>
#include <utility>

// The head of one HTTP/1.x request, as the page port reads it:
//   request-line  = method SP target SP "HTTP/1." digit CRLF
//   header-line   = name ":" OWS value OWS CRLF       (then one empty line)
// Lines may end in a bare LF. Obsolete line folding, a malformed line, a
// target that is not a path ("/..."), two different Content-Length values
// and anything but HTTP/1.0 or 1.1 are refused. Names compare without case.
namespace http {

struct Request {
    QByteArray method;
    QByteArray path;                                  // the target without its query
    int minor = 1;                                    // HTTP/1.<minor>
    QList<std::pair<QByteArray, QByteArray>> headers; // names in lower case

    // The value of the first header of that name (lower case); empty if none.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
    // True when a comma-separated header holds `token` (without case).
    bool hasToken(QByteArrayView name, QByteArrayView token) const;
    // Content-Length (0 when absent); nullopt when it is not a number.
    std::optional<qint64> contentLength() const;
};

struct Parsed {
    std::optional<Request> request;
    int status = 0; // when refused: 400 or 505
};

// Where the head in `buffer` ends (after its empty line), or -1.
qsizetype headEnd(QByteArrayView buffer);
// Reads a complete head (as far as headEnd).
Parsed parseHead(QByteArrayView head);

} // namespace http
