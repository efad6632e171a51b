#include "remarkcheck.h"

#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextEdit>

RemarkCheck::RemarkCheck(QPlainTextEdit* box) : QObject(box), m_box(box), m_note(new QLabel(box)) {
    m_note->setText(QStringLiteral("赤い文字は送れません（「?」で届きます）"));
    m_note->setStyleSheet(QStringLiteral("background: #ffffe1; color: #c00000; padding: 1px;"));
    m_note->adjustSize();
    m_note->hide();
    connect(box, &QPlainTextEdit::textChanged, this, &RemarkCheck::update);
    box->installEventFilter(this);
}

bool RemarkCheck::noteShown() const {
    return !m_note->isHidden();
}

QString RemarkCheck::lostCharacters(const QString& text, const QList<protocol::TextSpan>& losses) {
    QStringList characters;
    for (const protocol::TextSpan& span : losses) {
        for (qsizetype i = span.start; i < span.start + span.length;) {
            const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QString one = text.mid(i, len);
            if (!characters.contains(one))
                characters << one;
            i += len;
        }
    }
    return characters.join(QLatin1Char(' '));
}

// Marks are extra selections: they belong to the view, not to the text, so
// the remark sent and the undo history stay as typed.
void RemarkCheck::update() {
    m_losses = protocol::cp932Losses(m_box->toPlainText());
    QList<QTextEdit::ExtraSelection> marks;
    QTextCharFormat marked;
    marked.setBackground(QColor(255, 205, 205));
    marked.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    marked.setUnderlineColor(QColor(200, 0, 0));
    for (const protocol::TextSpan& span : std::as_const(m_losses)) {
        QTextCursor cursor(m_box->document());
        cursor.setPosition(int(span.start));
        cursor.setPosition(int(span.start + span.length), QTextCursor::KeepAnchor);
        marks.append({cursor, marked});
    }
    m_box->setExtraSelections(marks);
    m_note->setVisible(!m_losses.isEmpty());
    if (!m_losses.isEmpty())
        placeNote();
}

// The bottom right corner of the text area, clear of the limit note at the top.
void RemarkCheck::placeNote() {
    const QRect area = m_box->viewport()->geometry();
    m_note->move(area.right() - m_note->width() + 1, area.bottom() - m_note->height() + 1);
    m_note->raise();
}

bool RemarkCheck::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_box && event->type() == QEvent::Resize && noteShown())
        placeNote();
    return QObject::eventFilter(watched, event);
}
