#include "form4.h"

#include "chatfonts.h"
#include "chatsettings.h"
#include "conversationwriter.h"
#include "cp932.h"
#include "outersizefloor.h"
#include "prompts.h"
#include "qcolorvalue.h"
#include "remarkcheck.h"
#include "remarklimit.h"
#include "rtfwriter.h"
#include "textchannel.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

Form4::Form4(TextChannel& channel, const ChatSettings& settings, Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), m_channel(channel), m_settings(settings), m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Talkora - Sketora会話ウィンドウ"));
    buildControls();
    buildMenus();
    resize(DesignClientWidth, DesignClientHeight + menuBar()->sizeHint().height());
}

void Form4::buildControls() {
    m_body = new QWidget(this);
    setCentralWidget(m_body);
    m_body->installEventFilter(this);

    m_text1 = new QTextEdit(m_body);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    m_text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text1->document()->setDefaultFont(ConversationWriter::defaultFont());
    m_text1->setGeometry(0, 0, 329, 369);
    // Whatever the channel appends, the newest line is in view.
    connect(m_text1->document(), &QTextDocument::contentsChanged, this, &Form4::showNewest);

    m_text2 = new QPlainTextEdit(m_body);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text2->setGeometry(0, 376, 265, 49);
    m_text2->installEventFilter(this);
    // Tab moves on to the send button; a remark never holds a tab typed here.
    m_text2->setTabChangesFocus(true);
    new RemarkLimit(m_text2);
    new RemarkCheck(m_text2);

    m_command1 = new QPushButton(QStringLiteral("送信"), m_body);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setDefault(true);
    m_command1->setGeometry(272, 376, 57, 49);
    connect(m_command1, &QPushButton::clicked, this, &Form4::command1Click);

    setTabOrder(m_text2, m_command1);
}

void Form4::buildMenus() {
    m_mFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    m_mSave = m_mFile->addAction(QStringLiteral("ログ保存(&S)..."));
    m_mSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_mEnd = m_mFile->addAction(QStringLiteral("終了(&X)"));
    connect(m_mSave, &QAction::triggered, this, &Form4::rtfSaveDialog);
    connect(m_mEnd, &QAction::triggered, this, &QWidget::close);

    m_mNet = menuBar()->addMenu(QStringLiteral("機能(&N)"));
    m_mFont = m_mNet->addMenu(QStringLiteral("フォント(&F)"));
    m_mFontk = m_mFont->addMenu(QStringLiteral("フォント種類(&K)"));
    auto* faces = new QActionGroup(this);
    m_mGothic = m_mFontk->addAction(QStringLiteral("MS ゴシック(&G)"));
    m_mMincho = m_mFontk->addAction(QStringLiteral("MS 明朝(&M)"));
    for (QAction* face : {m_mGothic, m_mMincho}) {
        face->setCheckable(true);
        faces->addAction(face);
    }
    // The ticks start at gothic and 10pt whatever the settings hold.
    m_mGothic->setChecked(true);
    connect(m_mGothic, &QAction::triggered, this, [this] { setFace(chatfonts::Gothic); });
    connect(m_mMincho, &QAction::triggered, this, [this] { setFace(chatfonts::Mincho); });

    m_mFonts = m_mFont->addMenu(QStringLiteral("フォントサイズ(&S)"));
    auto* sizes = new QActionGroup(this);
    const std::pair<QAction**, std::pair<const char*, qint16>> sizeItems[] = {
        {&m_m9pt, {"9pt(&C)", 9}},
        {&m_m10pt, {"10pt(&M)", 10}},
        {&m_m12pt, {"12pt(&L)", 12}},
        {&m_m15pt, {"15pt(&B)", 15}},
    };
    for (const auto& [item, spec] : sizeItems) {
        *item = m_mFonts->addAction(QString::fromUtf8(spec.first));
        (*item)->setCheckable(true);
        sizes->addAction(*item);
        const qint16 points = spec.second;
        connect(*item, &QAction::triggered, this, [this, points] { setSize(points); });
    }
    m_m10pt->setChecked(true);

    m_mCol = m_mNet->addMenu(QStringLiteral("カラー(&I)"));
    m_mFCol = m_mCol->addAction(QStringLiteral("フォントカラー(&C)..."));
    m_mBackCol = m_mCol->addAction(QStringLiteral("背景カラー(&B)..."));
    connect(m_mFCol, &QAction::triggered, this, &Form4::mFColClick);
    connect(m_mBackCol, &QAction::triggered, this, &Form4::mBackColClick);

    m_mNet->addSeparator();
    m_mNameChange = m_mNet->addAction(QStringLiteral("名前の変更(&C)..."));
    m_mMList = m_mNet->addAction(QStringLiteral("メンバリスト表示(&M)"));
    connect(m_mNameChange, &QAction::triggered, this, &Form4::mNameChangeClick);
    connect(m_mMList, &QAction::triggered, this, &Form4::mMListClick);
}

void Form4::formLoad() {
    m_text1->move(0, 0);
    m_text2->move(0, m_text2->y());
    applyInputFont(m_settings.confFontName, m_settings.confFontSize);
    applyInputColor(m_settings.confFontColor);
    applyBackColor(m_settings.confFontBackColor);

    show();
    activateWindow();
    m_text2->setFocus();

    announce();
}

void Form4::announce() {
    m_channel.announce(static_cast<qint16>(qRound(m_text2->font().pointSizeF())), inputColor());
}

QTextDocument* Form4::conversation() const {
    return m_text1->document();
}

void Form4::showNewest() {
    m_text1->moveCursor(QTextCursor::End);
    m_text1->ensureCursorVisible();
}

void Form4::command1Click() {
    const QString remark = m_text2->toPlainText();
    if (remark.isEmpty())
        return;
    // What the code page cannot carry would reach everybody as "?": the
    // sender agrees first (the marks in the box show which).
    const QList<protocol::TextSpan> losses = protocol::cp932Losses(remark);
    if (!losses.isEmpty() && m_channel.connected() &&
        !m_prompts.question(this,
                            QStringLiteral("赤で示した文字（%1）は送れません。"
                                           "「?」に置き換えて送りますか？")
                                .arg(RemarkCheck::lostCharacters(remark, losses)),
                            QStringLiteral("送信確認")))
        return;
    // Not connected: nothing goes out and the typed remark stays for a later try.
    if (!m_channel.sendRemark(remark))
        return;
    m_text2->clear();
    m_text2->setFocus();
}

void Form4::setFace(qint16 face) {
    (face == chatfonts::Mincho ? m_mMincho : m_mGothic)->setChecked(true);
    applyInputFont(face, m_text2->font().pointSize());
    m_channel.chooseFace(face);
}

void Form4::setSize(qint16 size) {
    applyInputFont(m_settings.confFontName, size);
    QAction* item = size == 9 ? m_m9pt : size == 12 ? m_m12pt : size == 15 ? m_m15pt : m_m10pt;
    item->setChecked(true);
    m_channel.chooseSize(size);
}

void Form4::mFColClick() {
    const std::optional<QColor> chosen = m_prompts.chooseColor(this, colorFromValue(inputColor()));
    if (!chosen)
        return;
    const qint32 colour = valueFromColor(*chosen);
    applyInputColor(colour);
    m_channel.chooseColor(inputColor());
}

void Form4::mBackColClick() {
    const std::optional<QColor> chosen = m_prompts.chooseColor(this, colorFromValue(backColor()));
    if (!chosen)
        return;
    // The background is the user's own: it is never announced.
    const qint32 colour = valueFromColor(*chosen);
    applyBackColor(colour);
    m_channel.chooseBackColor(colour);
}

void Form4::mMListClick() {
    m_channel.requestMemberList();
}

void Form4::mNameChangeClick() {
    if (m_renameDialog)
        m_renameDialog(this);
}

void Form4::rtfSaveDialog() {
    const std::optional<QString> name = m_prompts.saveFileName(
        this, QStringLiteral("名前を付けて保存"),
        QStringLiteral("リッチテキストファイル(*.rtf);;全てのファイル(*.*)"), m_lastSaveName);
    if (!name)
        return;
    m_lastSaveName = *name;
    emit saveNameChosen(*name);
    rtfSave(*name);
}

bool Form4::rtfSave(const QString& fileName) {
    return rtf::saveDocument(*m_text1->document(), fileName);
}

void Form4::applyInputFont(qint16 face, int pointSize) {
    QFont font(chatfonts::faceName(face));
    // A size the box cannot take (0 from a settings file without the size
    // key) leaves it at the default size, so the box stays usable.
    font.setPointSize(chatfonts::isInputSize(pointSize) ? pointSize : chatfonts::DefaultPointSize);
    m_text2->setFont(font);
}

void Form4::applyInputColor(qint32 colour) {
    QPalette palette = m_text2->palette();
    palette.setColor(QPalette::Text, colorFromValue(colour));
    m_text2->setPalette(palette);
}

void Form4::applyBackColor(qint32 colour) {
    for (QWidget* box : {static_cast<QWidget*>(m_text1), static_cast<QWidget*>(m_text2)}) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, colorFromValue(colour));
        box->setPalette(palette);
    }
}

qint32 Form4::inputColor() const {
    return valueFromColor(m_text2->palette().color(QPalette::Text));
}

qint32 Form4::backColor() const {
    return valueFromColor(m_text1->palette().color(QPalette::Base));
}

void Form4::closeEvent(QCloseEvent* event) {
    if (!m_prompts.question(this, QStringLiteral("会話ウィンドウを消しますか？"),
                            QStringLiteral("会話終了確認"))) {
        event->ignore();
        return;
    }
    // Sent without a connection test; a failed send changes nothing.
    m_channel.leave();
    event->accept();
    emit windowClosed();
}

void Form4::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    keepOuterSizeAtLeast(*this, MinimumOuterSize); // 3000 twips, 200 pixels
}

void Form4::layoutControls() {
    const int width = m_body->width();
    const int height = m_body->height();
    m_text1->setGeometry(0, 0, qMax(0, width - 1), qMax(0, height - 56));
    m_text2->setGeometry(0, height - 52, qMax(0, width - 60), 49);
    m_command1->setGeometry(width - 60, height - 52, 57, 49);
}

bool Form4::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_body && event->type() == QEvent::Resize) {
        if (!isMinimized())
            layoutControls();
    } else if (watched == m_text2 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Enter presses the send button; Ctrl+Enter breaks the line.
            if (key->modifiers() & Qt::ControlModifier)
                m_text2->insertPlainText(QStringLiteral("\n"));
            else
                m_command1->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
