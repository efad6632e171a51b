#pragma once

#include "windowviews.h"

#include <QFrame>
#include <vector>

class QLabel;
class QToolButton;
class QVBoxLayout;

// The bar above the canvas that shows the notices of NoticeView, newest
// first, one line per kind, each with its own close button. The bar is
// hidden while it holds no line; whenever a line comes or goes it tells
// `changed`, so that the window can give the canvas the space that is left.
class NoticeBar : public QFrame {
    Q_OBJECT
public:
    explicit NoticeBar(QWidget* parent = nullptr);

    void showNotice(NoticeKind kind, const QString& text);
    void clearNotice(NoticeKind kind);

    // What is shown, newest first (tests and the screenshot tool).
    std::vector<NoticeKind> kinds() const;
    QString text(NoticeKind kind) const;
    QToolButton* closeButton(NoticeKind kind) const;

signals:
    void changed();

private:
    struct Line {
        NoticeKind kind;
        QWidget* row;
        QLabel* label;
        QToolButton* close;
    };
    const Line* find(NoticeKind kind) const;
    void remove(NoticeKind kind);

    QVBoxLayout* m_layout;
    std::vector<Line> m_lines; // newest first, as laid out
};
