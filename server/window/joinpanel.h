#pragma once

#include <QGroupBox>
#include <QStringList>

class QLabel;

// How phones and tablets join: the page's address at each network address of
// the machine, each with its QR code, for the people in the room to scan.
// Empty (and hidden) until the page is being served.
class JoinPanel : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int ModulePixels = 3;

    explicit JoinPanel(QWidget* parent = nullptr);

    void setPages(const QStringList& pages);
    QStringList pages() const { return m_pages; }
    // The label that shows the QR code of pages()[i] (tests, screenshots).
    QLabel* codeLabel(int i) const;

private:
    QStringList m_pages;
    QList<QLabel*> m_codes;
};
