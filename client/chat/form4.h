#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>

class Prompts;
class QAction;
class QActionGroup;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
struct ClientSettings;

namespace net {
class SocketEndpoint;
}

// The chat window "Talkora - Sketora会話ウィンドウ". The conversation box
// (`Text1`) is written only by the text channel handling; this window sends the
// user's remarks and announcements over the main window's text endpoint, lets
// the user choose the look of the own remarks and of the conversation, asks
// for the member list, starts the name change and saves the conversation as
// RTF. Every send goes out only while the text endpoint is connected (state
// 7), except the leave message on closing, whose failure is ignored.
//
// The window is destroyed when it closes; the chat settings it reads and
// changes belong to the main window and outlive it.
class Form4 : public QMainWindow {
    Q_OBJECT
public:
    // Runs the name-change dialog modally over `parent`; the dialog stores the
    // new name and sends the rename message itself.
    using RenameDialog = std::function<void(QWidget* parent)>;

    // Design client area, in pixels, and the smallest outer size (3000 twips).
    static constexpr int DesignClientWidth = 331;
    static constexpr int DesignClientHeight = 426;
    static constexpr int MinimumOuterSize = 200;

    Form4(net::SocketEndpoint& wsTxt, ClientSettings& settings, Prompts& prompts,
          QWidget* parent = nullptr);

    void setRenameDialog(RenameDialog dialog) { m_renameDialog = std::move(dialog); }
    // The save dialog opens with the name last chosen.
    void setLastSaveName(const QString& name) { m_lastSaveName = name; }
    QString lastSaveName() const { return m_lastSaveName; }

    // The opening sequence: look of both boxes from the settings, show, focus
    // the input box, and while connected announce the user (types 1, 7, 6, 8).
    void formLoad();

    void command1Click();               // send the remark in the input box
    void sendTxtSize(qint16 size);      // "7<:>" size, when connected
    void rtfSaveDialog();               // ask for a file name, then rtfSave
    bool rtfSave(const QString& fileName);

    QTextEdit* text1() const { return m_text1; }
    QPlainTextEdit* text2() const { return m_text2; }
    QPushButton* command1() const { return m_command1; }

    QMenu* mFile() const { return m_mFile; }
    QAction* mSave() const { return m_mSave; }
    QAction* mEnd() const { return m_mEnd; }
    QMenu* mNet() const { return m_mNet; }
    QMenu* mFont() const { return m_mFont; }
    QMenu* mFontk() const { return m_mFontk; }
    QAction* mGothic() const { return m_mGothic; }
    QAction* mMincho() const { return m_mMincho; }
    QMenu* mFonts() const { return m_mFonts; }
    QAction* m9pt() const { return m_m9pt; }
    QAction* m10pt() const { return m_m10pt; }
    QAction* m12pt() const { return m_m12pt; }
    QAction* m15pt() const { return m_m15pt; }
    QMenu* mCol() const { return m_mCol; }
    QAction* mFCol() const { return m_mFCol; }
    QAction* mBackCol() const { return m_mBackCol; }
    QAction* mNameChange() const { return m_mNameChange; }
    QAction* mMList() const { return m_mMList; }

signals:
    // The user agreed to close; the window is going away.
    void windowClosed();
    // A file name was chosen in the save dialog.
    void saveNameChosen(const QString& name);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void layoutControls();
    bool connected() const;
    bool send(int type, const QString& payload);

    void setFace(qint16 face);
    void setSize(qint16 size);
    void mFColClick();
    void mBackColClick();
    void mMListClick();
    void mNameChangeClick();

    void applyInputFont(qint16 face, int pointSize);
    void applyInputColor(qint32 colour);
    void applyBackColor(qint32 colour);
    qint32 inputColor() const;
    qint32 backColor() const;

    net::SocketEndpoint& m_wsTxt;
    ClientSettings& m_settings;
    Prompts& m_prompts;
    RenameDialog m_renameDialog;
    QString m_lastSaveName;

    QWidget* m_body = nullptr;
    QTextEdit* m_text1 = nullptr;
    QPlainTextEdit* m_text2 = nullptr;
    QPushButton* m_command1 = nullptr;

    QMenu* m_mFile = nullptr;
    QAction* m_mSave = nullptr;
    QAction* m_mEnd = nullptr;
    QMenu* m_mNet = nullptr;
    QMenu* m_mFont = nullptr;
    QMenu* m_mFontk = nullptr;
    QAction* m_mGothic = nullptr;
    QAction* m_mMincho = nullptr;
    QMenu* m_mFonts = nullptr;
    QAction* m_m9pt = nullptr;
    QAction* m_m10pt = nullptr;
    QAction* m_m12pt = nullptr;
    QAction* m_m15pt = nullptr;
    QMenu* m_mCol = nullptr;
    QAction* m_mFCol = nullptr;
    QAction* m_mBackCol = nullptr;
    QAction* m_mNameChange = nullptr;
    QAction* m_mMList = nullptr;
};
