#include "mainmenu.h"

#include <QMenu>
#include <QMenuBar>

namespace {

QAction* item(QMenu* menu, const QString& caption, const QKeySequence& shortcut = {},
              bool checkable = false) {
    QAction* action = menu->addAction(caption);
    action->setShortcut(shortcut);
    action->setCheckable(checkable);
    return action;
}

} // namespace

MainMenu::MainMenu(QMenuBar* bar) {
    buildFile(bar);
    buildEdit(bar);
    buildKinou(bar);
    buildNetWork(bar);
    buildInfo(bar);
}

void MainMenu::buildFile(QMenuBar* bar) {
    QMenu* menu = bar->addMenu(QStringLiteral("ファイル(&F)"));
    mFile = menu->menuAction();
    mSave = item(menu, QStringLiteral("画像を保存する(&S)..."), QKeySequence(Qt::CTRL | Qt::Key_S));
    menu->addSeparator();
    mLogPlay = item(menu, QStringLiteral("描画ログ再生(&L)..."));
    QMenu* speed = menu->addMenu(QStringLiteral("描画速度(&V)"));
    mLogSpeed = speed->menuAction();
    mLSNoWait = item(speed, QStringLiteral("一瞬(&1)"), {}, true);
    mLSHigh = item(speed, QStringLiteral("速め(&2)"), {}, true);
    mLSslow = item(speed, QStringLiteral("遅め(&3)"), {}, true);
    mLSHigh->setChecked(true);
    mLogDownload = item(menu, QStringLiteral("描画ログダウンロード(&D)..."));
    mLogDownload->setEnabled(false); // offered by the menu, never implemented
    menu->addSeparator();
    mEnd = item(menu, QStringLiteral("終了(&X)"), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MainMenu::buildEdit(QMenuBar* bar) {
    QMenu* menu = bar->addMenu(QStringLiteral("編集(&E)"));
    mEdit = menu->menuAction();
    mUndo = item(menu, QStringLiteral("元に戻す(&U)"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    mRedo = item(menu, QStringLiteral("やり直し(&Y)"), QKeySequence(Qt::CTRL | Qt::Key_Y));
    mUndo->setEnabled(false);
    mRedo->setEnabled(false);
}

void MainMenu::buildKinou(QMenuBar* bar) {
    QMenu* menu = bar->addMenu(QStringLiteral("機能(&T)"));
    mKinou = menu->menuAction();
    mPencil = item(menu, QStringLiteral("鉛筆(&P)"), QKeySequence(Qt::CTRL | Qt::Key_P), true);
    mEraser = item(menu, QStringLiteral("消しゴム(&E)"), QKeySequence(Qt::CTRL | Qt::Key_E), true);
    mSpoit =
        item(menu, QStringLiteral("スポイトツール(&S)"), QKeySequence(Qt::CTRL | Qt::Key_F), true);
    mScroll =
        item(menu, QStringLiteral("スクロール(&A)"), QKeySequence(Qt::CTRL | Qt::Key_G), true);
    menu->addSeparator();
    QMenu* width = menu->addMenu(QStringLiteral("線の太さ(&W)"));
    mnuWidth = width->menuAction();
    const Qt::Key keys[4] = {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3, Qt::Key_F4};
    for (int i = 0; i < 4; ++i) {
        const QString caption = QStringLiteral("%1x%1ドット(&%2)").arg(2 * i + 1).arg(i + 1);
        mWdt[i] = item(width, caption, QKeySequence(Qt::SHIFT | keys[i]), true);
    }
    mWdt[0]->setChecked(true);
    mColor =
        item(menu, QStringLiteral("色指定（詳細）(&C)..."), QKeySequence(Qt::SHIFT | Qt::Key_F5));
    mClear = item(menu, QStringLiteral("全消し(&D)"), QKeySequence(Qt::SHIFT | Qt::Key_F6));
    menu->addSeparator();
    QMenu* transe = menu->addMenu(QStringLiteral("ウィンドウの透明度(&T)"));
    mTranse = transe->menuAction();
    // Off until the platform is known to show translucent windows.
    mTranse->setEnabled(false);
    mT100 = item(transe, QStringLiteral("100%(不透明)"), {}, true);
    mT75 = item(transe, QStringLiteral("75%"), {}, true);
    mT50 = item(transe, QStringLiteral("50%"), {}, true);
    mT25 = item(transe, QStringLiteral("25%"), {}, true);
    mT100->setChecked(true);
}

void MainMenu::buildNetWork(QMenuBar* bar) {
    QMenu* menu = bar->addMenu(QStringLiteral("通信(&N)"));
    mNetWork = menu->menuAction();
    mCon = item(menu, QStringLiteral("接続(&C)..."), QKeySequence(Qt::CTRL | Qt::Key_T));
    mReconnect = item(menu, QStringLiteral("再接続(&R)"), QKeySequence(Qt::CTRL | Qt::Key_R));
    mClose = item(menu, QStringLiteral("切断(&Q)"), QKeySequence(Qt::CTRL | Qt::Key_D));
    mRetake = item(menu, QStringLiteral("共有画面を取り直す(&S)"));
    menu->addSeparator();
    mMember = item(menu, QStringLiteral("会話ウィンドウ(&M)"), QKeySequence(Qt::CTRL | Qt::Key_M));
}

void MainMenu::buildInfo(QMenuBar* bar) {
    QMenu* menu = bar->addMenu(QStringLiteral("情報(&I)"));
    mInfo = menu->menuAction();
    mVersion = item(menu, QStringLiteral("バージョン情報(&V)"));
}
