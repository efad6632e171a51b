#include "joinpanel.h"

#include "qrcode.h"

#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLayoutItem>
#include <QPixmap>

JoinPanel::JoinPanel(QWidget* parent)
    : QGroupBox(QStringLiteral("スマホ・タブレットから参加"), parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(8);
    hide();
}

QLabel* JoinPanel::codeLabel(int i) const {
    return m_codes.value(i);
}

void JoinPanel::setPages(const QStringList& pages) {
    auto* grid = static_cast<QGridLayout*>(layout());
    while (QLayoutItem* item = grid->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_codes.clear();
    m_pages = pages;
    for (int row = 0; row < pages.size(); ++row) {
        auto* code = new QLabel(this);
        if (const std::optional<QrCode> qr = QrCode::encode(pages[row]))
            code->setPixmap(QPixmap::fromImage(qr->toImage(ModulePixels)));
        auto* address = new QLabel(this);
        address->setTextFormat(Qt::RichText);
        address->setText(QStringLiteral("<b>%1</b><br>同じネットワークのスマホやタブレットの"
                                        "ブラウザで開くか、QRコードを読み取ってください")
                             .arg(pages[row].toHtmlEscaped()));
        address->setWordWrap(true);
        address->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(code, row, 0);
        grid->addWidget(address, row, 1, Qt::AlignVCenter);
        m_codes << code;
    }
    grid->setColumnStretch(1, 1);
    setVisible(!pages.isEmpty());
}
