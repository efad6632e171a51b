#include "transg32library.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>

TransG32Library::TransG32Library() : TransG32Library(defaultCandidates()) {}

TransG32Library::TransG32Library(QStringList candidates) : m_candidates(std::move(candidates)) {}

// The private folder relative to the program's directory, for example
// "../lib/x86_64-linux-gnu/sketora"; set by the build from the install layout.
#ifndef SKETORA_PRIVATE_LIBDIR
#error "SKETORA_PRIVATE_LIBDIR must name the private library folder relative to the program"
#endif

QStringList TransG32Library::defaultCandidates() {
    QStringList list;
    if (QCoreApplication::instance()) {
        const QDir programDir(QCoreApplication::applicationDirPath());
        // The build tree keeps the library beside the programs; an installed
        // client has it in its private folder below the prefix.
        list << programDir.filePath(QStringLiteral("TransG32"))
             << QDir::cleanPath(
                    programDir.filePath(QStringLiteral(SKETORA_PRIVATE_LIBDIR "/TransG32")));
    }
    list << QStringLiteral("TransG32");
    return list;
}

void TransG32Library::setCandidates(QStringList candidates) {
    m_candidates = std::move(candidates);
    m_jpeg = nullptr;
    m_png = nullptr;
}

bool TransG32Library::load() {
    if (isLoaded())
        return true;
    for (const QString& candidate : m_candidates) {
        m_library.setFileName(candidate);
        if (!m_library.load())
            continue;
        auto jpeg = reinterpret_cast<JpegFn>(m_library.resolve("DCSavetoJPEG"));
        auto png = reinterpret_cast<PngFn>(m_library.resolve("DCSavetoPNG"));
        if (jpeg && png) {
            m_jpeg = jpeg;
            m_png = png;
            return true;
        }
        // A library of that name without our entry points is no use.
        m_library.unload();
    }
    return false;
}

QString TransG32Library::loadedFrom() const {
    return isLoaded() ? m_library.fileName() : QString();
}

bool TransG32Library::save(Kind kind, const QImage& picture, qint32 width, qint32 height,
                           const QByteArray& cp932Name) {
    if (!load())
        return false;
    if (kind == Kind::Jpeg)
        m_jpeg(&picture, width, height, cp932Name.constData(), JpegQuality, 0);
    else
        m_png(&picture, width, height, cp932Name.constData(), 0);
    return true;
}
