#pragma once

#include "framesplitter.h"

#include <QObject>
#include <QString>
#include <QStringView>

class QLabel;
class QPlainTextEdit;

// Keeps the remark being typed within what every receiver accepts. A remark
// travels as one text message (textmessage.h) and comes back from the relay
// with the speaker's index in front; receivers drop a message whose
// unterminated part grows past the reassembly cap, so a longer remark would
// vanish for everybody. The input box therefore refuses text beyond MaxBytes (CP932
// bytes as sent, a line break counting as CR LF), 1 KiB below the cap for the
// framing. Whatever is typed, pasted or dropped past the limit is cut off at
// a character boundary, and a note in the box says why until the remark is
// shorter again.
class RemarkLimit : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxBytes = protocol::FrameSplitter::DefaultCap - 1024;

    explicit RemarkLimit(QPlainTextEdit* box, qsizetype maxBytes = MaxBytes);

    // Bytes of `text` on the wire: CP932, each line break as CR LF.
    static qsizetype wireSize(QStringView text);
    // The note is showing: the last edit was cut at the limit.
    bool limitReached() const;

private:
    void recordChange(int position, int removed, int added);
    void enforce();
    // The longest start of `text`, in whole characters, of at most `room` bytes.
    static qsizetype fittingLength(const QString& text, qsizetype room);

    QPlainTextEdit* m_box;
    QLabel* m_note;
    qsizetype m_maxBytes;
    int m_changeStart = 0;
    int m_changeEnd = 0;
    bool m_cutting = false;
};
