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
class QTextDocument;
class QTextEdit;
class TextChannel;
struct ChatSettings;

// The chat window "Talkora - Sketora会話ウィンドウ". It shows the conversation
// document (`Text1`), which only the text channel writes, and forwards what
// the user does to the text channel: remarks, the look of the own remarks,
// the member list request, the leave message. The look of its own boxes
// follows the user's choices; the name change runs the dialog it is given,
// and the conversation can be saved as RTF.
//
// The window is destroyed when it closes; the chat settings it starts from
// belong to the client and outlive it.
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

    Form4(TextChannel& channel, const ChatSettings& settings, Prompts& prompts,
          QWidget* parent = nullptr);

    void setRenameDialog(RenameDialog dialog) { m_renameDialog = std::move(dialog); }
    // The save dialog opens with the name last chosen.
    void setLastSaveName(const QString& name) { m_lastSaveName = name; }

    // The opening sequence: look of both boxes from the settings, show, focus
    // the input box, and while connected announce the user (types 1, 7, 6, 8).
    void formLoad();
    // Joins the chat with the input's look (the end of formLoad; again on
    // every new text connection while the window is open).
    void announce();

    void command1Click(); // send the remark in the input box
    void rtfSaveDialog(); // ask for a file name, then rtfSave
    bool rtfSave(const QString& fileName);

    // The conversation, written by the text channel while the window is open.
    QTextDocument* conversation() const;

    QTextEdit* text1() const { return m_text1; }
    QPlainTextEdit* text2() const { return m_text2; }
    QPushButton* command1() const { return m_command1; }

    QAction* mSave() const { return m_mSave; }
    QAction* mEnd() const { return m_mEnd; }
    QAction* mGothic() const { return m_mGothic; }
    QAction* mMincho() const { return m_mMincho; }
    QAction* m9pt() const { return m_m9pt; }
    QAction* m10pt() const { return m_m10pt; }
    QAction* m12pt() const { return m_m12pt; }
    QAction* m15pt() const { return m_m15pt; }
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
    void showNewest();

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

    TextChannel& m_channel;
    const ChatSettings& m_settings;
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
