#include "imageexport.h"
#include "transg32library.h"

#include "fakeprompts.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

// Fine detail that JPEG keeps close only at its highest quality.
const QRect NoiseArea(1280, 960, 128, 128);

// A canvas-sized picture with flat blocks of colour, a patch of fine detail
// and a few single pixels (which only a lossless writer keeps exactly).
QImage makeCanvasPicture() {
    QImage picture(1600, 1200, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
    for (int i = 0; i < 6; ++i)
        painter.fillRect(64 + i * 240, 64 + i * 160, 192, 160, colours[i]);
    painter.end();
    QRandomGenerator noise(7);
    for (int y = NoiseArea.top(); y <= NoiseArea.bottom(); ++y)
        for (int x = NoiseArea.left(); x <= NoiseArea.right(); ++x) {
            const int grey = noise.bounded(256); // grey: chroma subsampling plays no part
            picture.setPixel(x, y, qRgb(grey, grey, grey));
        }
    picture.setPixel(0, 0, qRgb(1, 2, 3));
    picture.setPixel(1599, 1199, qRgb(250, 128, 7));
    picture.setPixel(800, 600, qRgb(0, 0, 0));
    return picture;
}

double meanChannelDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum +=
                qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

const QString MissingLibraryText =
    QStringLiteral("画像を保存できません\r\nTransG32.dllをシステムフォルダに入れて下さい");

} // namespace

class TestImageExport : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_prompts = FakePrompts();
        m_export.reset(
            new ImageExport(m_prompts, &m_window, [this]() -> const QImage& { return m_picture; }));
    }

    void savesInTheFormatTheNameSelects_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("bmp") << "picture.bmp" << QByteArray("bmp");
        QTest::newRow("png") << "picture.png" << QByteArray("png");
        QTest::newRow("jpg") << "picture.jpg" << QByteArray("jpeg");
        QTest::newRow("JPG capitals") << "PICTURE.JPG" << QByteArray("jpeg");
        QTest::newRow("jpeg four letters") << "picture.jpeg" << QByteArray("jpeg");
        QTest::newRow("PnG mixed") << "picture.PnG" << QByteArray("png");
        QTest::newRow("no extension is bmp") << "picture" << QByteArray("bmp");
        QTest::newRow("unknown extension is bmp") << "picture.gif" << QByteArray("bmp");
        QTest::newRow("japanese name") << QStringLiteral("絵①髙～.png") << QByteArray("png");
    }

    // The file lands under exactly the chosen name, in the format its ending
    // selects, holding the canvas pixels.
    void savesInTheFormatTheNameSelects() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, format);
        const QString path = m_dir->filePath(fileName);
        m_prompts.fileAnswers.push_back(path);

        m_export->picSaveDialog();

        QCOMPARE(m_prompts.count("save"), 1);
        QCOMPARE(m_prompts.shown.first().text, ImageExport::dialogFilter());
        QCOMPARE(m_prompts.count("message"), 0);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{fileName});

        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), format);
        const QImage back = reader.read().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(back.size(), m_picture.size());
        if (format == "jpeg") {
            QVERIFY2(meanChannelDifference(back, m_picture) < 1.5, "JPEG too far from the canvas");
            // About 0.4 at quality 100, 3.3 already at 90.
            const double detail =
                meanChannelDifference(back.copy(NoiseArea), m_picture.copy(NoiseArea));
            QVERIFY2(detail < 1.5, qPrintable(QString("fine detail lost: %1").arg(detail)));
        } else
            QCOMPARE(back, m_picture);
    }

    // The dialog's filter (PNG first) is no part of the choice: the name it
    // returns decides, and nothing is added to it here.
    void filterIsOfferedButIgnored() {
        QCOMPARE(ImageExport::dialogFilter(),
                 QStringLiteral("PNGファイル(*.png);;BMPファイル(*.bmp);;JPEGファイル(*.jpg);;"
                                "全てのファイル(*.*)"));
        QCOMPARE(ImageExport::formatFor("a.jpg"), ImageExport::Format::Jpeg);
        QCOMPARE(ImageExport::formatFor("ajpg"), ImageExport::Format::Jpeg);
        QCOMPARE(ImageExport::formatFor("a.JPEG"), ImageExport::Format::Jpeg);
        QCOMPARE(ImageExport::formatFor("a.jpe"), ImageExport::Format::Bmp);
        QCOMPARE(ImageExport::formatFor("a.png.bmp"), ImageExport::Format::Bmp);
        QCOMPARE(ImageExport::formatFor("pg"), ImageExport::Format::Bmp);
    }

    // Without the library: the two-line message, nothing written; the next
    // save looks again and succeeds once the library is there.
    void missingLibraryIsReportedAndNothingSaved() {
        const QString nowhere = m_dir->filePath("nowhere/TransG32");
        m_export->setLibraryCandidates({nowhere});
        for (const char* name : {"picture.png", "picture.jpg"}) {
            m_prompts.fileAnswers.push_back(m_dir->filePath(name));
            m_export->picSaveDialog();
        }
        QCOMPARE(m_prompts.count("message"), 2);
        for (const FakePrompts::Shown& shown : m_prompts.shown) {
            if (shown.kind == "message") {
                QCOMPARE(shown.title, QStringLiteral("保存エラー"));
                QCOMPARE(shown.text, MissingLibraryText);
            }
        }
        QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());

        // BMP needs no library.
        m_prompts.fileAnswers.push_back(m_dir->filePath("picture.bmp"));
        m_export->picSaveDialog();
        QCOMPARE(m_prompts.count("message"), 2);

        m_export->setLibraryCandidates(
            {nowhere, QDir(QCoreApplication::applicationDirPath()).filePath("TransG32")});
        m_prompts.fileAnswers.push_back(m_dir->filePath("picture.png"));
        m_export->picSaveDialog();
        QCOMPARE(m_prompts.count("message"), 2);
        QVERIFY(QFile::exists(m_dir->filePath("picture.png")));
    }

    // Cancelling the dialog, reached through the menu item: no file, no box.
    void cancelFromTheMenuChangesNothing() {
        QAction mSave;
        m_export->attach(&mSave);
        mSave.trigger();
        QCOMPARE(m_prompts.count("save"), 1);
        QCOMPARE(m_prompts.shown.size(), 1);
        QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
    }

    // The dialog offers the name chosen last time; a cancel keeps it.
    void dialogOpensWithTheLastName() {
        const QString first = m_dir->filePath("first.bmp");
        m_prompts.fileAnswers.push_back(first);
        m_export->picSaveDialog();
        QCOMPARE(m_prompts.lastInitialName, QString());
        m_export->picSaveDialog(); // cancelled
        QCOMPARE(m_prompts.lastInitialName, first);
        m_export->picSaveDialog();
        QCOMPARE(m_prompts.lastInitialName, first);
    }

    // A name CP932 cannot hold, in the folder or the file name, must not
    // reach the library with '?' in it (which would write or overwrite some
    // other file): the library writes in a scratch folder under the temporary
    // folder, and the picture lands under exactly the chosen name, replacing
    // a file already there. The scratch folder is gone afterwards.
    void namesOutsideCp932AreSavedUnderThatName_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("accented folder, png") << QStringLiteral("café") << "picture.png";
        QTest::newRow("accented folder, jpg") << QStringLiteral("café") << "picture.jpg";
        QTest::newRow("thai folder, png") << QStringLiteral("ภาพ") << "picture.png";
        QTest::newRow("emoji file name") << QString() << QStringLiteral("pic\U0001F3A8.png");
        QTest::newRow("accented name, jpg") << QString() << QStringLiteral("café.jpg");
    }
    void namesOutsideCp932AreSavedUnderThatName() {
        QFETCH(QString, folder);
        QFETCH(QString, fileName);
        const QString scratchRoot = m_dir->filePath("tmp");
        QVERIFY(QDir().mkpath(scratchRoot));
        qputenv("TMPDIR", QFile::encodeName(scratchRoot));
        const QString folderPath = folder.isEmpty() ? m_dir->path() : m_dir->filePath(folder);
        QVERIFY(QDir().mkpath(folderPath));
        const QStringList decoys{"pic?.png", "pic??.png", "caf?.jpg", "picture.png"};
        for (const QString& decoy : decoys) {
            QFile file(QDir(m_dir->path()).filePath(decoy));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep");
        }
        const QString path = QDir(folderPath).filePath(fileName);
        QFile old(path);
        QVERIFY(
            old.open(QIODevice::WriteOnly | QIODevice::Append)); // a decoy, or a file to replace
        old.close();

        m_prompts.fileAnswers.push_back(path);
        m_export->picSaveDialog();
        qunsetenv("TMPDIR");

        QCOMPARE(m_prompts.count("message"), 0);
        QCOMPARE(QImage(path).size(), m_picture.size());
        if (fileName.endsWith("png"))
            QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), m_picture);
        for (const QString& decoy : decoys) {
            QFile file(QDir(m_dir->path()).filePath(decoy));
            if (file.fileName() == path)
                continue;
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("keep"));
        }
        QCOMPARE(QDir(folderPath).entryList(QDir::Files).filter(fileName).size(), 1);
        QCOMPARE(QDir(scratchRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // A file that cannot be written in any format is reported, and a file
    // already there is left as it was.
    void failedSaveIsReported_data() {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("bmp") << "picture.bmp";
        QTest::newRow("png") << "picture.png";
        QTest::newRow("jpg") << "picture.jpg";
    }
    void failedSaveIsReported() {
        QFETCH(QString, fileName);
        QFile notAFolder(m_dir->filePath("plain"));
        QVERIFY(notAFolder.open(QIODevice::WriteOnly));
        notAFolder.close();
        const QString path = m_dir->filePath("plain/" + fileName);
        m_prompts.fileAnswers.push_back(path);
        m_export->picSaveDialog();
        QCOMPARE(m_prompts.count("message"), 1);
        QCOMPARE(m_prompts.shown.last().title, QStringLiteral("保存エラー"));
        QCOMPARE(m_prompts.shown.last().text, "画像を保存できません\r\n" + path);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"plain"});
    }

    // The library is found beside the executable first and writes the
    // top-left part of the picture that width and height select.
    void libraryBesideTheExecutableWritesTheGivenPart() {
        TransG32Library library;
        QVERIFY(library.load());
        QCOMPARE(QFileInfo(library.loadedFrom()).absolutePath(),
                 QFileInfo(QCoreApplication::applicationDirPath()).absoluteFilePath());

        const QString path = m_dir->filePath("part.png");
        QVERIFY(
            library.save(TransG32Library::Kind::Png, m_picture, 100, 40, QFile::encodeName(path)));
        const QImage back = QImage(path).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(back, m_picture.copy(0, 0, 100, 40));
    }

private:
    QImage m_picture = makeCanvasPicture();
    QWidget m_window;
    FakePrompts m_prompts;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ImageExport> m_export;
};

QTEST_MAIN(TestImageExport)
#include "tst_imageexport.moc"
