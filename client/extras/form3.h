#pragma once

#include <QDialog>
#include <QIcon>
#include <QPixmap>

class Prompts;
class QAction;
class QLabel;

// The version window "バージョン情報": a fixed-size tool window with the
// program's banner, the main window's icon and the version text. It is shown
// modal over the main window and closed with its close box.
class Form3 : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 197, ClientHeight = 133;

    explicit Form3(QWidget* mainWindow);

    // The first picture of the window's image list: the banner.
    static QPixmap bannerPicture();
    // Image2's picture when the main window has no icon of its own (the
    // program's windows take theirs from the application).
    static QIcon fallbackIcon();
    // Where the window's outer top-left corner goes on screen: half the main
    // window's outer size less 20 twips, counted from the screen's corner
    // whatever the main window's position.
    static QPoint placementFor(const QSize& mainOuterSize);

    QLabel* image1() const { return m_image1; }
    QLabel* image2() const { return m_image2; }
    QLabel* label1() const { return m_label1; }

private:
    QLabel* m_image1;
    QLabel* m_image2;
    QLabel* m_label1;
};

// Menu command "バージョン情報(&V)": beep, then show Form3 modal over the main
// window until the user closes it.
class VersionCommand : public QObject {
    Q_OBJECT
public:
    VersionCommand(Prompts& prompts, QWidget* mainWindow, QObject* parent = nullptr);

    // Runs mVersionClick() whenever `mVersion` is triggered.
    void attach(QAction* mVersion);
    void mVersionClick();

private:
    Prompts& m_prompts;
    QWidget* m_mainWindow;
};
