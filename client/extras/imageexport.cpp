#include "imageexport.h"

#include "cp932.h"
#include "prompts.h"
#include "wholefile.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>
#include <QTemporaryDir>

ImageExport::ImageExport(Prompts& prompts, QWidget* mainWindow, PictureSource picture,
                         QObject* parent)
    : QObject(parent), m_prompts(prompts), m_mainWindow(mainWindow), m_picture(std::move(picture)) {
}

void ImageExport::attach(QAction* mSave) {
    connect(mSave, &QAction::triggered, this, &ImageExport::picSaveDialog);
}

void ImageExport::setLibraryCandidates(const QStringList& candidates) {
    m_library.setCandidates(candidates);
}

ImageExport::Format ImageExport::formatFor(const QString& fileName) {
    const QString lowered = fileName.toLower();
    const QString ending = lowered.right(3);
    if (ending == QLatin1String("jpg") || lowered.endsWith(QLatin1String(".jpeg")))
        return Format::Jpeg;
    if (ending == QLatin1String("png"))
        return Format::Png;
    return Format::Bmp;
}

QString ImageExport::dialogFilter() {
    return QStringLiteral("PNGファイル(*.png);;BMPファイル(*.bmp);;JPEGファイル(*.jpg);;"
                          "全てのファイル(*.*)");
}

void ImageExport::picSaveDialog() {
    const std::optional<QString> chosen = m_prompts.saveFileName(
        m_mainWindow, QStringLiteral("名前を付けて保存"), dialogFilter(), m_lastName);
    if (!chosen || chosen->isEmpty())
        return;
    m_lastName = *chosen;
    const Format format = formatFor(*chosen);
    if (format == Format::Bmp)
        picSave(*chosen);
    else
        saveThroughLibrary(*chosen, format);
}

void ImageExport::picSave(const QString& fileName) {
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true); // a folder that takes no new files
    QImageWriter writer(&file, "BMP");
    if (!file.open(QIODevice::WriteOnly) || !writer.write(m_picture()) || !wholefile::commit(file))
        reportNotSaved(fileName);
}

void ImageExport::saveThroughLibrary(const QString& fileName, Format format) {
    if (!m_library.load()) {
        reportMissingLibrary();
        return;
    }
    // The scratch folder goes away with everything in it when this returns.
    QTemporaryDir scratch(scratchTemplate());
    if (!scratch.isValid()) {
        reportNotSaved(fileName);
        return;
    }
    const bool jpeg = format == Format::Jpeg;
    const QString written =
        scratch.filePath(jpeg ? QStringLiteral("picture.jpg") : QStringLiteral("picture.png"));
    const QByteArray name = protocol::toCp932(written);
    const QImage& picture = m_picture();
    m_library.save(jpeg ? TransG32Library::Kind::Jpeg : TransG32Library::Kind::Png, picture,
                   picture.width(), picture.height(), name);
    // The library's result says little; what counts is the file it left.
    if (!copyIntoPlace(written, fileName))
        reportNotSaved(fileName);
}

// "<temp>/sketora-XXXXXX" when the system's temporary folder is plain ASCII
// (which CP932 holds byte for byte), otherwise the same under /tmp.
QString ImageExport::scratchTemplate() {
    QString base = QDir::tempPath();
    for (const QChar c : std::as_const(base)) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E) {
            base = QStringLiteral("/tmp");
            break;
        }
    }
    return base + QStringLiteral("/sketora-XXXXXX");
}

// Copies `source` to `target` so that `target` is either replaced as a whole
// or left untouched (where the folder allows it). A missing or empty `source`
// is a failed save.
bool ImageExport::copyIntoPlace(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly) || in.size() == 0)
        return false;
    QSaveFile out(target);
    // Where no scratch file can be made beside the target (a folder that
    // takes no new files, only changes to this one), it is written in place.
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    char buffer[64 * 1024];
    for (qint64 got; (got = in.read(buffer, sizeof buffer)) > 0;) {
        if (out.write(buffer, got) != got)
            return false; // QSaveFile drops its temporary file unless committed
    }
    return in.error() == QFileDevice::NoError && wholefile::commit(out);
}

void ImageExport::reportMissingLibrary() {
    m_prompts.message(
        m_mainWindow,
        QStringLiteral("画像を保存できません\r\nTransG32.dllをシステムフォルダに入れて下さい"),
        QStringLiteral("保存エラー"));
}

void ImageExport::reportNotSaved(const QString& fileName) {
    m_prompts.message(m_mainWindow,
                      QStringLiteral("画像を保存できません\r\n") +
                          QDir::toNativeSeparators(fileName),
                      QStringLiteral("保存エラー"));
}
