#pragma once

#include "cp932.h"

#include <QObject>
#include <QString>

class QLabel;
class QPlainTextEdit;

// Shows, while a remark is typed, the characters the text channel's code page
// does not carry (emoji, Hangul, accented letters, ...): every receiver, the
// sender included, would see "?" or a look-alike in their place. They are
// marked in the box (red, with a wavy underline) and a note in the box's
// corner says so for as long as any is there. The chat window asks before it
// sends such a remark.
class RemarkCheck : public QObject {
    Q_OBJECT
public:
    explicit RemarkCheck(QPlainTextEdit* box);

    QList<protocol::TextSpan> losses() const { return m_losses; }
    bool noteShown() const;
    // The characters `losses` covers in `text`, each once, in order: "😀 한".
    static QString lostCharacters(const QString& text, const QList<protocol::TextSpan>& losses);

private:
    void update();
    void placeNote();
    bool eventFilter(QObject* watched, QEvent* event) override;

    QPlainTextEdit* m_box;
    QLabel* m_note;
    QList<protocol::TextSpan> m_losses;
};
