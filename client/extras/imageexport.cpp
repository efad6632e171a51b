#include "imageexport.h"

#include "cp932.h"
#include "prompts.h"

#include <QAction>
#include <QImage>

namespace {
// JPEG quality the client always asks of the library.
constexpr quint8 JpegQuality = 100;
} // namespace

ImageExport::ImageExport(Prompts& prompts, QWidget* mainWindow, PictureSource picture,
                         QObject* parent)
    : QObject(parent), m_prompts(prompts), m_mainWindow(mainWindow), m_picture(std::move(picture))
{
}

void ImageExport::attach(QAction* mSave)
{
    connect(mSave, &QAction::triggered, this, &ImageExport::picSaveDialog);
}

void ImageExport::setLibraryCandidates(const QStringList& candidates)
{
    m_library.setCandidates(candidates);
}

ImageExport::Format ImageExport::formatFor(const QString& fileName)
{
    const QString lowered = fileName.toLower();
    const QString ending = lowered.right(3);
    if (ending == QLatin1String("jpg") || lowered.endsWith(QLatin1String(".jpeg")))
        return Format::Jpeg;
    if (ending == QLatin1String("png"))
        return Format::Png;
    return Format::Bmp;
}

QString ImageExport::dialogFilter()
{
    return QStringLiteral("BMPファイル(*.bmp);;JPEGファイル(*.jpg);;PNGファイル(*.png);;"
                          "全てのファイル(*.*)");
}

void ImageExport::picSaveDialog()
{
    const std::optional<QString> chosen =
        m_prompts.saveFileName(m_mainWindow, QStringLiteral("名前を付けて保存"), dialogFilter(),
                               m_lastName);
    if (!chosen || chosen->isEmpty())
        return;
    m_lastName = *chosen;
    switch (formatFor(*chosen)) {
    case Format::Jpeg:
        jPicSave(*chosen);
        break;
    case Format::Png:
        pPicSave(*chosen);
        break;
    case Format::Bmp:
        picSave(*chosen);
        break;
    }
}

void ImageExport::picSave(const QString& fileName)
{
    // A failed write goes unreported, like every other save failure but the
    // missing library.
    m_picture().save(fileName, "BMP");
}

void ImageExport::jPicSave(const QString& fileName)
{
    if (!m_library.load()) {
        reportMissingLibrary();
        return;
    }
    const QByteArray name = libraryFileName(fileName);
    if (name.isEmpty())
        return;
    const QImage& picture = m_picture();
    m_library.saveJpeg(picture, picture.width(), picture.height(), name, JpegQuality);
}

void ImageExport::pPicSave(const QString& fileName)
{
    if (!m_library.load()) {
        reportMissingLibrary();
        return;
    }
    const QByteArray name = libraryFileName(fileName);
    if (name.isEmpty())
        return;
    const QImage& picture = m_picture();
    m_library.savePng(picture, picture.width(), picture.height(), name);
}

QByteArray ImageExport::libraryFileName(const QString& fileName)
{
    const QByteArray encoded = protocol::toCp932(fileName);
    if (protocol::fromCp932(encoded) != fileName)
        return {};
    return encoded;
}

void ImageExport::reportMissingLibrary()
{
    m_prompts.message(m_mainWindow,
                      QStringLiteral("画像を保存できません\r\nTransG32.dllをシステムフォルダに入れて下さい"),
                      QStringLiteral("保存エラー"));
}
