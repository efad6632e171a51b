#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLineEdit;
class QPushButton;

// The small server-address dialog. It is the start-up screen (mode 0: however
// it closes, the main window is shown), the connect dialog of the network menu
// (mode 1) and the chat window's rename dialog (mode 2, "Change").
//
// The dialog only asks: in modes 0 and 1 "Connect" emits connectRequested
// with the trimmed address, in mode 2 "Change" emits renamed; either closes
// the dialog. An empty text is refused silently; the dialog stays open. The
// start-up screen is wired to the connection control by the client; modes 1
// and 2 run modally inside QtPrompts.
//
// In modes 0 and 1 the box is a drop-down that lists the addresses connected
// to before, newest first; the box starts with the server last talked to
// (mode 1) or the newest address, selected, so that typing replaces it.
class Form2 : public QDialog {
    Q_OBJECT
public:
    enum Mode : qint16 { StartUp = 0, Connect = 1, Rename = 2 };

    explicit Form2(QWidget* parent = nullptr);

    // Stores the mode; mode 2 also sets the rename title, the caption and
    // the user's current name `myName` in the text box.
    void setDlgMode(qint16 mode, const QString& myName = QString());
    qint16 dlgMode() const { return m_dlgMode; }

    // The server offered in mode 1.
    void setLastPeer(const QString& address) { m_lastPeer = address; }
    // The addresses connected to before, newest first.
    void setEarlierAddresses(const QStringList& addresses);

    // The text box: the address box's editor, or the name box in mode 2.
    QLineEdit* Text1() const;
    QComboBox* addressBox() const { return m_address; }
    QPushButton* Command1() const { return m_command1; }
    QPushButton* Command2() const { return m_command2; }

    void done(int result) override;

signals:
    void connectRequested(const QString& address);
    void renamed(const QString& name);
    // Mode 0 is closing, however; the main window is to appear now, before
    // the dialog hides, so that some window is always shown.
    void startUpClosed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void formLoad();
    void command1Click();

    qint16 m_dlgMode = StartUp;
    bool m_loaded = false;
    QString m_lastPeer;
    QStringList m_earlier;
    QComboBox* m_address;
    QLineEdit* m_name;
    QPushButton* m_command1;
    QPushButton* m_command2;
};
