#include "undocontrol.h"

#include "canvas.h"
#include "drawingchannel.h"
#include "windowviews.h"

#include <QRandomGenerator>

using undowire::Reader;
using undowire::Request;

namespace {

// 16 characters of [0-9A-Za-z]: about 95 bits, so two members never meet.
QByteArray newMemberId() {
    static constexpr char Letters[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray id;
    for (int i = 0; i < 16; ++i)
        id += Letters[QRandomGenerator::system()->bounded(62)];
    return id;
}

// The text shown for a "cleared" or "restored" line.
QString noticeText(const Reader::Event& event) {
    const QString who = event.name.isEmpty() ? QStringLiteral("%1 番の参加者").arg(event.index)
                                             : event.name + QStringLiteral(" さん");
    if (event.kind == Reader::Event::Restored)
        return who + QStringLiteral("が全消しを取り消しました");
    if (!event.undoable)
        return who + QStringLiteral("が全員のキャンバスを消去しました");
    return who + QStringLiteral(
                     "が全員のキャンバスを消去しました（消した人は「元に戻す」で取り消せます）");
}

} // namespace

UndoControl::UndoControl(Parts parts, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_id(newMemberId()) {
    DrawingChannel& channel = m_parts.channel;
    channel.onExtension({QStringLiteral("undo"), QStringLiteral("redo"), QStringLiteral("can"),
                         QStringLiteral("patch"), QStringLiteral("pdata"),
                         QStringLiteral("cleared"), QStringLiteral("restored")},
                        [this](QStringView argument) { onLine(argument); });
    connect(&channel, &DrawingChannel::connected, this, &UndoControl::restart);
    connect(&channel, &DrawingChannel::closed, this, &UndoControl::restart);
}

void UndoControl::restart() {
    m_speaks = false;
    m_reader.reset();
    setCounts(false, 0, 0);
    m_parts.notices.clearNotice(NoticeKind::ClearAll);
}

void UndoControl::serverSpeaks() {
    m_speaks = true;
    announce();
}

void UndoControl::announce() {
    if (m_speaks)
        m_parts.channel.send(undowire::meLine(m_id, m_parts.name ? m_parts.name() : QString()));
}

void UndoControl::undo() {
    request(Request::Undo);
}

void UndoControl::redo() {
    request(Request::Redo);
}

// Requests while one is on its way go out too: each takes back one more,
// and the server answers "none" to those past the end.
void UndoControl::request(Request::Kind kind) {
    if ((kind == Request::Undo ? m_undos : m_redos) == 0)
        return;
    const QByteArray token = QByteArray::number(++m_requests, 36);
    m_parts.channel.send(kind == Request::Undo ? undowire::undoLine(token)
                                               : undowire::redoLine(token));
}

void UndoControl::onLine(QStringView argument) {
    const Reader::Event event = m_reader.feed(argument);
    switch (event.kind) {
    case Reader::Event::Answer:
        setCounts(true, event.undos, event.redos);
        emit answered(event.outcome);
        break;
    case Reader::Event::Can:
        setCounts(true, event.undos, event.redos);
        break;
    case Reader::Event::Patch:
        m_parts.canvas.board().paste(event.pixels, event.area.topLeft());
        if (m_parts.refreshPreview)
            m_parts.refreshPreview();
        emit patchApplied(event.area);
        break;
    case Reader::Event::Cleared:
    case Reader::Event::Restored: {
        const QString text = noticeText(event);
        m_parts.notices.showNotice(NoticeKind::ClearAll, text);
        emit notice(text);
        break;
    }
    default:
        break;
    }
}

void UndoControl::setCounts(bool offered, int undos, int redos) {
    m_offered = offered;
    m_undos = undos;
    m_redos = redos;
    m_parts.view.showUndoState(offered, undos > 0, redos > 0);
}
