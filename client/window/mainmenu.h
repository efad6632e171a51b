#pragma once

#include <QAction>
#include <array>

class QMenu;
class QMenuBar;

// The main window's menu bar, built once in its fixed order with captions,
// shortcuts and start-up check marks. Form1 wires it: its controllers take
// the drawing, tool and width items, the playback speeds and transparency
// levels go to the controllers of those layers, and every other command
// leaves the window as one of Form1's signals.
//
// Items that carry a check mark are checkable; their handlers set the marks of
// their whole group explicitly, so Qt's own toggling on a click never decides.
struct MainMenu {
    explicit MainMenu(QMenuBar* bar);

    // ファイル(&F)
    QAction* mFile;
    QAction* mSave;
    QAction* mLogPlay;
    QAction* mLogSpeed;
    QAction* mLSNoWait;
    QAction* mLSHigh;
    QAction* mLSslow;
    QAction* mLogDownload;
    QAction* mEnd;
    // 編集(&E): offered only while the server has something to take back
    QAction* mEdit;
    QAction* mUndo;
    QAction* mRedo;
    // 機能(&T)
    QAction* mKinou;
    QAction* mPencil;
    QAction* mEraser;
    QAction* mSpoit;
    QAction* mScroll;
    QAction* mnuWidth;
    std::array<QAction*, 4> mWdt;
    QAction* mColor;
    QAction* mClear;
    QAction* mTranse;
    QAction* mT100;
    QAction* mT75;
    QAction* mT50;
    QAction* mT25;
    // 通信(&N)
    QAction* mNetWork;
    QAction* mCon;
    QAction* mReconnect;
    QAction* mClose;
    QAction* mRetake;
    QAction* mMember;
    // 情報(&I)
    QAction* mInfo;
    QAction* mVersion;

private:
    void buildFile(QMenuBar* bar);
    void buildEdit(QMenuBar* bar);
    void buildKinou(QMenuBar* bar);
    void buildNetWork(QMenuBar* bar);
    void buildInfo(QMenuBar* bar);
};
