#include "noticebar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <algorithm>

NoticeBar::NoticeBar(QWidget* parent) : QFrame(parent), m_layout(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("noticeBar"));
    setFrameShape(QFrame::StyledPanel);
    // The pale yellow of the system's hints: a note, not an error box.
    setStyleSheet(QStringLiteral("#noticeBar { background: #ffffe1; border: 1px solid #a0a0a0; }"
                                 "#noticeBar QLabel { color: black; }"));
    m_layout->setContentsMargins(4, 2, 2, 2);
    m_layout->setSpacing(2);
    hide();
}

const NoticeBar::Line* NoticeBar::find(NoticeKind kind) const {
    const auto at = std::find_if(m_lines.begin(), m_lines.end(),
                                 [kind](const Line& line) { return line.kind == kind; });
    return at == m_lines.end() ? nullptr : &*at;
}

void NoticeBar::showNotice(NoticeKind kind, const QString& text) {
    remove(kind);
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(text, row);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse); // a path can be copied
    label->setFocusPolicy(Qt::NoFocus);
    auto* close = new QToolButton(row);
    close->setText(QStringLiteral("×"));
    close->setToolTip(QStringLiteral("閉じる"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus); // the canvas keeps the keyboard
    rowLayout->addWidget(label, 1);
    rowLayout->addWidget(close, 0, Qt::AlignTop);
    connect(close, &QToolButton::clicked, this, [this, kind] { clearNotice(kind); });
    m_layout->insertWidget(0, row);
    m_lines.insert(m_lines.begin(), Line{kind, row, label, close});
    show();
    emit changed();
}

void NoticeBar::clearNotice(NoticeKind kind) {
    if (!find(kind))
        return;
    remove(kind);
    setVisible(!m_lines.empty());
    emit changed();
}

void NoticeBar::remove(NoticeKind kind) {
    const auto at = std::find_if(m_lines.begin(), m_lines.end(),
                                 [kind](const Line& line) { return line.kind == kind; });
    if (at == m_lines.end())
        return;
    // Deleted later: the line's own close button may be the caller.
    at->row->hide();
    at->row->deleteLater();
    m_layout->removeWidget(at->row);
    m_lines.erase(at);
}

std::vector<NoticeKind> NoticeBar::kinds() const {
    std::vector<NoticeKind> kinds;
    for (const Line& line : m_lines)
        kinds.push_back(line.kind);
    return kinds;
}

QString NoticeBar::text(NoticeKind kind) const {
    const Line* line = find(kind);
    return line ? line->label->text() : QString();
}

QToolButton* NoticeBar::closeButton(NoticeKind kind) const {
    const Line* line = find(kind);
    return line ? line->close : nullptr;
}
