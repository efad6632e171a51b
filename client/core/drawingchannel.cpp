#include "drawingchannel.h"

#include "drawingline.h"
#include "socketendpoint.h"
#include "windowviews.h"

namespace dl = protocol::drawing;
using net::SocketEndpoint;

DrawingChannel::DrawingChannel(Parts parts, QObject* parent)
    : QObject(parent), m_ws(std::make_unique<SocketEndpoint>()), m_pen(parts.pen),
      m_receiver(parts.canvas, std::move(parts.refreshPreview)),
      m_splitter(QByteArray(dl::Terminator)) {
    m_receiver.setExtensionHandler([this](QStringView argument) { dispatchExtension(argument); });
    connect(m_ws.get(), &SocketEndpoint::dataArrival, this, [this] { receive(m_ws->getData()); });
    connect(m_ws.get(), &SocketEndpoint::connected, this, &DrawingChannel::onSocketConnected);
    connect(m_ws.get(), &SocketEndpoint::closed, this, &DrawingChannel::closed);
}

DrawingChannel::~DrawingChannel() = default;

bool DrawingChannel::isConnected() const {
    return m_ws->state() == SocketEndpoint::Connected;
}

void DrawingChannel::onSocketConnected() {
    // A tail left over from an earlier connection must not prefix new lines.
    m_splitter.reset();
    const qint32 colour = m_pen.penColor();
    const qint16 width = m_pen.penWidth();
    // Straight onto the wire: the gate hears of the connection only after it.
    sendNow(dl::colorLine(colour));
    sendNow(dl::widthLine(width));
    emit penAnnounced(colour, width);
    emit connected();
}

void DrawingChannel::receive(QByteArrayView arrival) {
    // Frame on bytes first, decode each complete line afterwards.
    const QList<QByteArray> pieces = m_splitter.feed(arrival);
    for (const QByteArray& piece : pieces)
        m_receiver.applyLine(dl::decodeText(piece), DrawReceiver::Source::Network);
}

void DrawingChannel::onExtension(const QStringList& verbs, const ExtensionHandler& handler) {
    for (const QString& verb : verbs)
        m_extensions.emplace_back(verb, handler);
}

void DrawingChannel::dispatchExtension(QStringView argument) {
    const qsizetype blank = argument.indexOf(u' ');
    const QStringView verb = blank < 0 ? argument : argument.first(blank);
    for (const auto& [known, handler] : m_extensions) {
        if (known == verb) {
            handler(argument);
            return;
        }
    }
}

bool DrawingChannel::send(const QByteArray& line) {
    return m_gate ? m_gate(line) : sendNow(line);
}

bool DrawingChannel::sendNow(const QByteArray& line) {
    return isConnected() && m_ws->sendBytes(line);
}

void DrawingChannel::announcePen() {
    sendColor(m_pen.penColor());
    sendSize(m_pen.penWidth());
}

void DrawingChannel::sendColor(qint32 colour) {
    send(dl::colorLine(colour));
}

void DrawingChannel::sendSize(qint16 width) {
    send(dl::widthLine(width));
}

void DrawingChannel::sendPenDown(int x, int y) {
    send(dl::penDownLine(x, y));
}

void DrawingChannel::sendRestart(int x, int y) {
    send(dl::restartLine(x, y));
}

void DrawingChannel::sendDraw(int x, int y) {
    send(dl::drawLine(x, y));
}

void DrawingChannel::sendErase(int x, int y) {
    send(dl::eraseLine(x, y));
}

void DrawingChannel::sendPenUp() {
    send(dl::penUpLine());
}

void DrawingChannel::sendClearAll() {
    send(dl::clearAllLine());
}

void DrawingChannel::requestMemberCount() {
    send(dl::memberRequestLine());
}
