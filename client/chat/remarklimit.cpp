#include "remarklimit.h"

#include "cp932.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <vector>

RemarkLimit::RemarkLimit(QPlainTextEdit* box, qsizetype maxBytes)
    : QObject(box), m_box(box), m_note(new QLabel(box)), m_maxBytes(maxBytes) {
    m_note->setText(QStringLiteral("入力の上限です"));
    m_note->setToolTip(QStringLiteral("一度に送れる発言は %1 バイトまでです").arg(maxBytes));
    m_note->setStyleSheet(QStringLiteral("background: #ffffe1; color: black; padding: 1px;"));
    m_note->adjustSize();
    m_note->hide();
    // The change is noted while the document is mid-edit; it is cut only once
    // the edit is complete and the layout has caught up.
    connect(box->document(), &QTextDocument::contentsChange, this, &RemarkLimit::recordChange);
    connect(box, &QPlainTextEdit::textChanged, this, &RemarkLimit::enforce);
}

qsizetype RemarkLimit::wireSize(QStringView text) {
    QString sent = text.toString();
    sent.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return protocol::toCp932(sent).size() + sent.count(QLatin1Char('\n'));
}

bool RemarkLimit::limitReached() const {
    return !m_note->isHidden();
}

void RemarkLimit::recordChange(int position, int /*removed*/, int added) {
    m_changeStart = position;
    m_changeEnd = position + added;
}

void RemarkLimit::enforce() {
    if (m_cutting)
        return;
    // Every UTF-16 unit takes at most two bytes on the wire (a line break
    // CR LF, a surrogate pair a single '?'): short text needs no encoding.
    const QString text = m_box->toPlainText();
    const qsizetype total = 2 * text.size() <= m_maxBytes ? 0 : wireSize(text);
    if (total <= m_maxBytes) {
        m_note->hide();
        return;
    }
    // Cut what the last edit added, keeping its start as far as it fits.
    const int end = qBound(0, m_changeEnd, int(text.size()));
    const int start = qBound(0, m_changeStart, end);
    const QString added = text.mid(start, end - start);
    const qsizetype room = m_maxBytes - (total - wireSize(added));
    int cutFrom = start + int(fittingLength(added, room));
    int cutTo = end;
    if (room < 0) { // over the limit before this edit too: cut the end of the remark
        cutFrom = int(fittingLength(text, m_maxBytes));
        cutTo = int(text.size());
    }
    m_cutting = true;
    QTextCursor cursor(m_box->document());
    cursor.joinPreviousEditBlock(); // one undo step with the edit it cuts
    cursor.setPosition(cutFrom);
    cursor.setPosition(cutTo, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    m_cutting = false;

    const QRect area = m_box->viewport()->geometry();
    m_note->move(area.right() - m_note->width() + 1, area.top());
    m_note->show();
    m_note->raise();
}

qsizetype RemarkLimit::fittingLength(const QString& text, qsizetype room) {
    if (room <= 0)
        return 0;
    // Whole characters only: a base letter with its marks, or a surrogate
    // pair, is kept or cut as one.
    std::vector<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        boundaries.push_back(at);
    // The size of a start grows with its length: search for the longest fit.
    qsizetype low = 0, high = qsizetype(boundaries.size());
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (wireSize(QStringView(text).left(boundaries[middle - 1])) <= room)
            low = middle;
        else
            high = middle - 1;
    }
    return low == 0 ? 0 : boundaries[low - 1];
}
