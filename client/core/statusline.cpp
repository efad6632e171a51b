#include "statusline.h"

#include "drawingchannel.h"
#include "socketendpoint.h"
#include "windowviews.h"

#include <array>

using net::SocketEndpoint;

StatusLine::StatusLine(DrawingChannel& channel, StatusView& view, QObject* parent)
    : QObject(parent), m_channel(channel), m_view(view) {
    m_timer1.setInterval(StatusInterval);
    m_tMem.setInterval(MemberInterval);
    connect(&m_timer1, &QTimer::timeout, this, &StatusLine::timer1Timer);
    connect(&m_tMem, &QTimer::timeout, this, &StatusLine::tMemTimer);
}

void StatusLine::start() {
    m_timer1.start();
    m_tMem.start();
}

// Every state number has its label, also those this client's endpoint never
// enters; connected shows the member count instead.
QString StatusLine::statusText(int state, int count) {
    static const std::array<QString, 10> labels = {
        QStringLiteral("Closed"),     // 0
        QStringLiteral("Open"),       // 1, never entered
        QStringLiteral("Listening"),  // 2
        QStringLiteral("Closed"),     // 3 connection pending
        QStringLiteral("Closed"),     // 4 resolving host
        QStringLiteral("Closed"),     // 5 host resolved, never entered
        QStringLiteral("Connecting"), // 6
        QString(),                    // 7 connected: the member count
        QStringLiteral("Closing"),    // 8
        QStringLiteral("Error"),      // 9
    };
    if (state == SocketEndpoint::Connected)
        return QStringLiteral("Member : %1人").arg(count);
    if (state < 0 || state >= int(labels.size()))
        return labels[SocketEndpoint::Closed];
    return labels[state];
}

void StatusLine::showState(qint16 state, qint16 count) {
    const bool connected = state == SocketEndpoint::Connected;
    m_view.showStatus(statusText(state, count));
    m_view.setTitleStatus(connected ? QStringLiteral("NetWork") : QStringLiteral("Stand Alone"));
    m_view.setChatAvailable(connected);
}

void StatusLine::timer1Timer() {
    const SocketEndpoint::State state = m_channel.socket().state();
    showState(qint16(state), m_channel.receiver().memCount());
    m_view.setLogPlayAvailable(state != SocketEndpoint::Connected);
}

void StatusLine::tMemTimer() {
    m_channel.requestMemberCount(); // sent only while connected
}
