#pragma once

#include "transg32library.h"

#include <QObject>
#include <QString>
#include <functional>

class Prompts;
class QAction;
class QImage;
class QWidget;

// Saves the canvas picture to a file chosen by the user ("画像を保存する(&S)...").
// The dialog offers PNG first (a drawing is far smaller as PNG than as BMP)
// and gives a name typed without an extension that of the type chosen.
// The format follows the file name alone, never the dialog's filter: a name
// whose last three characters are "jpg" or which ends in ".jpeg" (any case)
// is written as JPEG at quality 100, "png" as PNG, anything else as a Windows
// bitmap under exactly the chosen name. BMP is written here; JPEG and PNG go
// through the image library TransG32, bound at the first such save.
//
// A save either replaces the chosen file as a whole or leaves it as it was and
// tells the user ("保存エラー"). The library takes a CP932 name, which cannot
// hold every folder or file name: it writes into a scratch folder with an
// ASCII name, and the result is copied into place through QSaveFile.
class ImageExport : public QObject {
    Q_OBJECT
public:
    enum class Format { Bmp, Jpeg, Png };
    // Returns the canvas picture; the reference must stay valid for one save.
    using PictureSource = std::function<const QImage&()>;

    ImageExport(Prompts& prompts, QWidget* mainWindow, PictureSource picture,
                QObject* parent = nullptr);

    // Runs picSaveDialog() whenever `mSave` is triggered.
    void attach(QAction* mSave);

    // Replaces where the image library is looked for (tests simulate its absence).
    void setLibraryCandidates(const QStringList& candidates);

    static Format formatFor(const QString& fileName);
    static QString dialogFilter();

    // Asks for the file name and saves in the format the name selects.
    // Cancelling does nothing.
    void picSaveDialog();
    void picSave(const QString& fileName); // BMP

private:
    // JPEG and PNG through the library.
    void saveThroughLibrary(const QString& fileName, Format format);
    static QString scratchTemplate();
    static bool copyIntoPlace(const QString& source, const QString& target);
    void reportMissingLibrary();
    void reportNotSaved(const QString& fileName);

    Prompts& m_prompts;
    QWidget* m_mainWindow;
    PictureSource m_picture;
    TransG32Library m_library;
    QString m_lastName; // the dialog opens with the name last chosen
};
