#include "form2.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

Form2::Form2(QWidget* parent)
    : QDialog(parent), m_address(new QComboBox(this)), m_name(new QLineEdit(this)),
      m_command1(new QPushButton(QStringLiteral("Connect"), this)),
      m_command2(new QPushButton(QStringLiteral("Cancel"), this)) {
    setWindowTitle(QStringLiteral("Sketora - サーバアドレス入力"));
    setFixedSize(212, 61);
    m_address->setEditable(true);
    // The list is the history alone: what is typed is kept by the client
    // once it connected, not by the box.
    m_address->setInsertPolicy(QComboBox::NoInsert);
    m_address->setGeometry(16, 8, 177, 18);
    m_name->setGeometry(16, 8, 177, 18);
    m_name->hide();
    m_command1->setGeometry(16, 32, 81, 17);
    m_command2->setGeometry(112, 32, 81, 17);
    setTabOrder(m_address, m_command1);
    setTabOrder(m_command1, m_command2);
    m_command2->setAutoDefault(false);

    connect(m_command1, &QPushButton::clicked, this, &Form2::command1Click);
    connect(m_command2, &QPushButton::clicked, this, &QDialog::reject);
}

QLineEdit* Form2::Text1() const {
    return m_dlgMode == Rename ? m_name : m_address->lineEdit();
}

void Form2::setDlgMode(qint16 mode, const QString& myName) {
    m_dlgMode = mode;
    if (mode != Rename)
        return;
    setWindowTitle(QStringLiteral("Talkora - 名前の変更"));
    m_command1->setText(QStringLiteral("Change"));
    m_address->hide();
    m_name->show();
    setTabOrder(m_name, m_command1);
    m_name->setText(myName);
}

void Form2::setEarlierAddresses(const QStringList& addresses) {
    m_earlier = addresses;
    const QString typed = m_address->currentText();
    m_address->clear();
    m_address->addItems(addresses);
    m_address->setEditText(typed); // adding items must not change the box
}

void Form2::showEvent(QShowEvent* event) {
    if (!m_loaded) {
        m_loaded = true;
        formLoad();
    }
    QDialog::showEvent(event);
}

// Enter in the text box presses Connect; the connect dialog offers the server
// last talked to, else the newest address used before.
void Form2::formLoad() {
    m_command1->setDefault(true);
    if (m_dlgMode == Rename)
        return;
    QString offered = m_dlgMode == Connect ? m_lastPeer : QString();
    if (offered.isEmpty() && !m_earlier.isEmpty())
        offered = m_earlier.first();
    if (offered.isEmpty() || !m_address->currentText().isEmpty())
        return;
    m_address->setEditText(offered);
    m_address->lineEdit()->selectAll();
}

void Form2::command1Click() {
    QLineEdit* box = Text1();
    const QString text = box->text().trimmed();
    box->setText(text);
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
