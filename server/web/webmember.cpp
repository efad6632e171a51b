#include "webmember.h"

#include "cp932.h"
#include "drawingline.h"
#include "peeraddressbook.h"
#include "textmessage.h"

#include <QHostAddress>
#include <QTimer>

using namespace protocol;

namespace {

// Relay sockets hold at most this much unread data, so a paused member's
// backlog waits in the relay's TCP window, where its flow control sees it.
constexpr qint64 RelayReadBuffer = 64 * 1024;
constexpr int FlushTimeoutMs = 5000;

bool isPrintableAscii(QStringView line) {
    for (QChar c : line)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return !line.isEmpty();
}

void setUpRelaySocket(QTcpSocket& socket) {
    socket.setReadBufferSize(RelayReadBuffer);
}

} // namespace

WebMember::WebMember(std::unique_ptr<WebSocketConnection> socket, quint16 drawingPort,
                     quint16 textPort, const Limits& limits, PeerAddressBook* book, QObject* parent)
    : QObject(parent), m_ws(std::move(socket)), m_book(book),
      m_drawSplitter(QByteArray(drawing::Terminator)), m_textSplitter(QByteArray(text::Terminator)),
      m_limits(limits) {
    m_ws->setParent(nullptr);
    connect(m_ws.get(), &WebSocketConnection::textMessageReceived, this, &WebMember::onMessage);
    connect(m_ws.get(), &WebSocketConnection::bytesWritten, this, &WebMember::onPageWritten);
    connect(m_ws.get(), &WebSocketConnection::disconnected, this, &WebMember::finish);
    // While paused the relay sockets are not read, so not even the relay
    // closing them would be seen: a page that takes nothing for this long is cut.
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(m_limits.stallMs);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        m_ws->abort();
        finish();
    });

    for (QTcpSocket* relay : {&m_draw, &m_text}) {
        setUpRelaySocket(*relay);
        connect(relay, &QTcpSocket::connected, this, &WebMember::onRelayConnected);
        connect(relay, &QTcpSocket::disconnected, this, &WebMember::finish);
        connect(relay, &QTcpSocket::errorOccurred, this, [this, relay] {
            if (relay->state() != QAbstractSocket::ConnectedState)
                finish();
        });
    }
    connect(&m_draw, &QTcpSocket::readyRead, this, &WebMember::readDrawing);
    connect(&m_text, &QTcpSocket::readyRead, this, &WebMember::readText);
    connectRelay(m_draw, drawingPort);
    connectRelay(m_text, textPort);
}

WebMember::~WebMember() {
    // The sockets still signal while they are torn down, after the timer
    // and the splitters are gone: nothing of ours may run then.
    m_draw.disconnect(this);
    m_text.disconnect(this);
    m_ws->disconnect(this);
    if (m_book)
        for (quint16 port : m_notedPorts)
            m_book->remove(port);
}

// The local port is taken first and noted, so the relay can tell whom the
// connection stands for the moment it accepts it.
void WebMember::connectRelay(QTcpSocket& relay, quint16 port) {
    if (m_book && relay.bind(QHostAddress::LocalHost, 0)) {
        m_notedPorts.push_back(relay.localPort());
        m_book->add(relay.localPort(), peerAddress());
    }
    relay.connectToHost(QHostAddress::LocalHost, port);
}

QString WebMember::peerAddress() const {
    const QHostAddress address = m_ws->peerAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

void WebMember::onRelayConnected() {
    auto* relay = qobject_cast<QTcpSocket*>(sender());
    relay->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_draw.state() == QAbstractSocket::ConnectedState &&
        m_text.state() == QAbstractSocket::ConnectedState)
        sendToPage(QStringLiteral("r"));
}

void WebMember::onMessage(const QString& message) {
    if (m_finishing || message.isEmpty())
        return;
    const QStringView body = QStringView(message).sliced(1);
    switch (message.front().unicode()) {
    case 'd':
        forwardDrawing(body);
        break;
    case 't':
        forwardText(body);
        break;
    default:
        break; // unknown kinds are dropped
    }
    if (m_draw.bytesToWrite() > m_limits.upstreamCap ||
        m_text.bytesToWrite() > m_limits.upstreamCap)
        finish(); // the relay holds this member's arrivals back and the page keeps sending
}

// Every line must end with "\r\n"; a tail without one is not a line and is
// dropped, never joined to a later message.
void WebMember::forwardDrawing(QStringView lines) {
    const QStringView terminator = u"\r\n";
    QByteArray out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype end = lines.indexOf(terminator, from);
        if (end < 0)
            break;
        const QStringView line = lines.sliced(from, end - from);
        if (isPrintableAscii(line)) {
            out += line.toLatin1();
            out += drawing::Terminator;
        }
        from = end + terminator.size();
    }
    if (!out.isEmpty())
        m_draw.write(out);
}

void WebMember::forwardText(QStringView message) {
    const QByteArray bytes = toCp932(message.toString());
    const QByteArrayView eot(text::Terminator);
    if (bytes.isEmpty() || bytes.contains(eot) || bytes.endsWith(eot.first(eot.size() - 1)))
        return;
    const text::UpMessage up = text::parseUpMessage(bytes);
    if (up.type == double(text::Join))
        m_joined = true;
    else if (up.type == double(text::Leave))
        m_joined = false;
    m_text.write(bytes + eot.toByteArray());
}

// Downstream drawing lines go to the page as they were framed, each with its
// "\r\n", all complete lines of one arrival in one message.
void WebMember::readDrawing() {
    if (m_paused || m_finishing)
        return;
    const QList<QByteArray> lines = m_drawSplitter.feed(m_draw.readAll());
    if (lines.isEmpty())
        return;
    QString batch = QStringLiteral("d");
    for (const QByteArray& line : lines) {
        batch += drawing::decodeText(line);
        batch += u"\r\n";
    }
    sendToPage(batch);
}

void WebMember::readText() {
    if (m_paused || m_finishing)
        return;
    // Everything framed here goes out; a pause only stops further reading.
    const QList<QByteArray> messages = m_textSplitter.feed(m_text.readAll());
    for (const QByteArray& message : messages)
        sendToPage(QLatin1Char('t') + fromCp932(message));
}

// A message past the WebSocket's output cap cuts it (and so finishes the
// member) right there.
void WebMember::sendToPage(const QString& message) {
    if (m_finishing)
        return;
    if (!m_ws->sendTextMessage(message)) {
        finish();
        return;
    }
    const qint64 unsent = m_ws->bytesToWrite();
    if (unsent > m_limits.pauseAbove && !m_paused) {
        m_paused = true;
        m_stallTimer.start();
    }
}

void WebMember::onPageWritten() {
    if (!m_paused)
        return;
    m_stallTimer.start(); // progress
    if (m_ws->bytesToWrite() > m_limits.resumeBelow)
        return;
    m_paused = false;
    m_stallTimer.stop();
    readDrawing();
    readText();
}

// Runs once, whichever side went first. The leave goes out before the close
// so the relay handles it like a desktop chat window closing, and the
// disconnects flush what is still queued towards the relay; `finished` waits
// for both (a relay that does not take the bytes within a few seconds is cut).
void WebMember::finish() {
    if (m_finishing)
        return;
    m_finishing = true;
    m_stallTimer.stop();
    if (m_joined && m_text.state() == QAbstractSocket::ConnectedState)
        m_text.write(text::clientMessage(text::Leave, QStringLiteral("END")));
    m_joined = false;
    if (m_ws->isOpen())
        m_ws->close();
    for (QTcpSocket* relay : {&m_draw, &m_text}) {
        connect(relay, &QTcpSocket::stateChanged, this, &WebMember::emitWhenClosed);
        relay->disconnectFromHost();
    }
    QTimer::singleShot(FlushTimeoutMs, this, [this] {
        m_draw.abort();
        m_text.abort();
        emitWhenClosed();
    });
    emitWhenClosed();
}

void WebMember::emitWhenClosed() {
    if (m_done || m_draw.state() != QAbstractSocket::UnconnectedState ||
        m_text.state() != QAbstractSocket::UnconnectedState)
        return;
    m_done = true;
    emit finished();
}
