#include "statusline.h"

#include "drawingline.h"
#include "drawreceiver.h"
#include "socketendpoint.h"
#include "windowviews.h"

using net::SocketEndpoint;

StatusLine::StatusLine(SocketEndpoint& ws, const DrawReceiver& receiver, StatusView& view,
                       QObject* parent)
    : QObject(parent), m_ws(ws), m_receiver(receiver), m_view(view) {
    m_timer1.setInterval(StatusInterval);
    m_tMem.setInterval(MemberInterval);
    connect(&m_timer1, &QTimer::timeout, this, &StatusLine::timer1Timer);
    connect(&m_tMem, &QTimer::timeout, this, &StatusLine::tMemTimer);
}

void StatusLine::start() {
    m_timer1.start();
    m_tMem.start();
}

QString StatusLine::statusText(int state, int count) {
    switch (state) {
    case SocketEndpoint::Open:
        return QStringLiteral("Open");
    case SocketEndpoint::Listening:
        return QStringLiteral("Listening");
    case SocketEndpoint::Connecting:
        return QStringLiteral("Connecting");
    case SocketEndpoint::Connected:
        return QStringLiteral("Member : %1人").arg(count);
    case SocketEndpoint::Closing:
        return QStringLiteral("Closing");
    case SocketEndpoint::Error:
        return QStringLiteral("Error");
    default: // 0 closed, and 3, 4, 5 (pending, resolving, resolved)
        return QStringLiteral("Closed");
    }
}

void StatusLine::showState(qint16 state, qint16 count) {
    const bool connected = state == SocketEndpoint::Connected;
    const QString note = m_note ? m_note() : QString();
    const QString text = statusText(state, count);
    m_view.showStatus(note.isEmpty() ? text : text + QLatin1Char(' ') + note);
    m_view.setTitleStatus(connected ? QStringLiteral("NetWork") : QStringLiteral("Stand Alone"));
    m_view.setChatAvailable(connected);
}

void StatusLine::timer1Timer() {
    const int state = m_ws.state();
    showState(qint16(state), m_receiver.memCount());
    m_view.setLogPlayAvailable(state != SocketEndpoint::Connected);
}

void StatusLine::tMemTimer() {
    if (m_ws.state() == SocketEndpoint::Connected)
        m_ws.sendBytes(protocol::drawing::memberRequestLine());
}
