#pragma once

#include <QWidget>

// The viewport pCBase: a sunken 2-pixel border around a client area that shows
// the canvas, its only child, clipped to the inside. The canvas widget sits at
// (left, top) of client(); both are 0 or negative, the scroll offset negated.
class ViewportFrame : public QWidget {
    Q_OBJECT
public:
    static constexpr int Border = 2;

    explicit ViewportFrame(QWidget* parent = nullptr);

    QWidget* client() const { return m_client; }
    QSize innerSize() const { return m_client->size(); }
    // Outer geometry; the client area follows at once, also while hidden.
    void setOuterGeometry(const QRect& outer);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* m_client;
};
