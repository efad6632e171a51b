#include "form3.h"

#include "prompts.h"

#include <QAction>
#include <QLabel>
#include <QPalette>
#include <cmath>

// The pictures are compiled into this static library; its initialiser has to
// be pulled in by name or the linker drops it.
static void initExtrasResources() {
    Q_INIT_RESOURCE(extras);
}

namespace {
// The window's position rule is stated in twips; this client treats the
// screen as 96 dpi, 15 twips to the pixel.
constexpr double TwipsPerPixel = 15.0;
constexpr double OffsetTwips = 20.0;
} // namespace

QPixmap Form3::bannerPicture() {
    initExtrasResources();
    return QPixmap(QStringLiteral(":/extras/banner.png"));
}

QIcon Form3::fallbackIcon() {
    initExtrasResources();
    return QIcon(QStringLiteral(":/extras/sketora.png"));
}

QPoint Form3::placementFor(const QSize& mainOuterSize) {
    const auto place = [](int outerPixels) {
        const double twips = outerPixels * TwipsPerPixel / 2.0 - OffsetTwips;
        return static_cast<int>(std::lround(twips / TwipsPerPixel));
    };
    return {place(mainOuterSize.width()), place(mainOuterSize.height())};
}

Form3::Form3(QWidget* mainWindow)
    : QDialog(mainWindow,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_image1(new QLabel(this)), m_image2(new QLabel(this)), m_label1(new QLabel(this)) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    setModal(true);
    setFixedSize(ClientWidth, ClientHeight);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    m_image1->setGeometry(0, 0, 201, 97);
    m_image1->setPixmap(bannerPicture());

    m_image2->setGeometry(16, 96, 41, 33);
    m_image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QIcon icon = mainWindow ? mainWindow->windowIcon() : QIcon();
    if (icon.isNull())
        icon = fallbackIcon();
    m_image2->setPixmap(icon.pixmap(32, 32));

    m_label1->setGeometry(104, 96, 89, 17);
    QFont font(QStringLiteral("MS UI Gothic"));
    font.setPointSizeF(11.25);
    m_label1->setFont(font);
    m_label1->setText(QStringLiteral("Version 0.3b"));

    if (mainWindow)
        move(placementFor(mainWindow->window()->frameGeometry().size()));
}

VersionCommand::VersionCommand(Prompts& prompts, QWidget* mainWindow, QObject* parent)
    : QObject(parent), m_prompts(prompts), m_mainWindow(mainWindow) {}

void VersionCommand::attach(QAction* mVersion) {
    connect(mVersion, &QAction::triggered, this, &VersionCommand::mVersionClick);
}

void VersionCommand::mVersionClick() {
    m_prompts.beep();
    Form3 form(m_mainWindow);
    form.exec();
}
