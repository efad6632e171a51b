#include "form2.h"

#include <QLineEdit>
#include <QPushButton>

Form2::Form2(QWidget* parent)
    : QDialog(parent), m_text1(new QLineEdit(this)),
      m_command1(new QPushButton(QStringLiteral("Connect"), this)),
      m_command2(new QPushButton(QStringLiteral("Cancel"), this)) {
    setWindowTitle(QStringLiteral("Sketora - サーバアドレス入力"));
    setFixedSize(212, 61);
    m_text1->setGeometry(16, 8, 177, 18);
    m_command1->setGeometry(16, 32, 81, 17);
    m_command2->setGeometry(112, 32, 81, 17);
    setTabOrder(m_text1, m_command1);
    setTabOrder(m_command1, m_command2);
    m_command2->setAutoDefault(false);

    connect(m_command1, &QPushButton::clicked, this, &Form2::command1Click);
    connect(m_command2, &QPushButton::clicked, this, &QDialog::reject);
}

void Form2::setDlgMode(qint16 mode, const QString& myName) {
    m_dlgMode = mode;
    if (mode != Rename)
        return;
    setWindowTitle(QStringLiteral("Talkora - 名前の変更"));
    m_command1->setText(QStringLiteral("Change"));
    m_text1->setText(myName);
}

void Form2::showEvent(QShowEvent* event) {
    if (!m_loaded) {
        m_loaded = true;
        formLoad();
    }
    QDialog::showEvent(event);
}

// Enter in the text box presses Connect; the connect dialog offers the server
// last talked to.
void Form2::formLoad() {
    m_command1->setDefault(true);
    if (m_dlgMode == Connect && !m_lastPeer.isEmpty())
        m_text1->setText(m_lastPeer);
}

void Form2::command1Click() {
    const QString text = m_text1->text().trimmed();
    m_text1->setText(text);
    if (text.isEmpty())
        return;

    if (m_dlgMode == Rename) {
        emit renamed(text);
        accept();
        return;
    }
    emit connectRequested(text);
    accept();
}

// Every way of closing the dialog ends here (buttons and the close box).
// The main window is shown before the dialog hides, so it is never the case
// that no window is visible at start-up.
void Form2::done(int result) {
    if (m_dlgMode == StartUp)
        emit startUpClosed();
    QDialog::done(result);
}
