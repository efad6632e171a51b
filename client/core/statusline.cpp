#include "statusline.h"

#include "connectioncontrol.h"
#include "drawingline.h"
#include "drawreceiver.h"
#include "form1.h"
#include "socketendpoint.h"

#include <QAction>
#include <QLabel>

using net::SocketEndpoint;

StatusLine::StatusLine(Form1& main, const DrawReceiver& receiver, QObject* parent)
    : QObject(parent), m_main(main), m_receiver(receiver) {
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

QString StatusLine::getStatusText(qint16 state, qint16 count) {
    const bool connected = state == SocketEndpoint::Connected;
    m_main.setWindowTitle(
        ConnectionControl::baseTitle() +
        (connected ? QStringLiteral(" / NetWork") : QStringLiteral(" / Stand Alone")));
    m_main.mMember()->setEnabled(connected);
    return statusText(state, count);
}

void StatusLine::timer1Timer() {
    const int state = m_main.WS().state();
    const QString note = m_note ? m_note() : QString();
    const QString text = getStatusText(qint16(state), m_receiver.memCount());
    m_main.lStatus()->setText(note.isEmpty() ? text : text + QLatin1Char(' ') + note);
    m_main.mLogPlay()->setEnabled(state != SocketEndpoint::Connected);
}

void StatusLine::tMemTimer() {
    if (m_main.WS().state() == SocketEndpoint::Connected)
        m_main.WS().sendBytes(protocol::drawing::memberRequestLine());
}
