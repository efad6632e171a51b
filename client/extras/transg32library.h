#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QStringList>

class QImage;

// Binds the outside image library TransG32 by name at the first JPEG or PNG
// save, so the client starts and draws without it. The library is looked for
// beside the executable first, then in the private folder of an installed
// client (<prefix>/lib/<multiarch>/sketora, found relative to the executable
// so any prefix works), then on the system's library path; a failed
// attempt is repeated at the next save, a successful one is kept for the
// life of the object.
//
// Entry points (C calling convention, see transg32/transg32.h):
//   qint16 DCSavetoJPEG(const void* dc, qint32 w, qint32 h, const char* cp932Name,
//                       quint8 quality, qint32 reserved)
//   qint16 DCSavetoPNG(const void* dc, qint32 w, qint32 h, const char* cp932Name,
//                      quint8 option)
// where `dc` points to the QImage holding the picture.
class TransG32Library {
public:
    enum class Kind { Jpeg, Png };
    // The JPEG quality the client always asks of the library.
    static constexpr quint8 JpegQuality = 100;

    // Looks in the default places (defaultCandidates()).
    TransG32Library();
    // Looks only at `candidates`, in order: library names or paths as QLibrary
    // takes them (prefix and suffix may be left out).
    explicit TransG32Library(QStringList candidates);

    static QStringList defaultCandidates();

    // Looks at `candidates` from now on; a library already bound is let go.
    void setCandidates(QStringList candidates);

    // Loads the library and resolves both entry points unless that already
    // happened; false when no candidate provides them.
    bool load();
    bool isLoaded() const { return m_jpeg && m_png; }
    QString loadedFrom() const;

    // Writes the top-left `width` x `height` of the picture under the CP932
    // name through the entry point of that kind (JPEG at JpegQuality). False
    // only when the library cannot be loaded: its own result is not examined.
    bool save(Kind kind, const QImage& picture, qint32 width, qint32 height,
              const QByteArray& cp932Name);

private:
    using JpegFn = qint16 (*)(const void*, qint32, qint32, const char*, quint8, qint32);
    using PngFn = qint16 (*)(const void*, qint32, qint32, const char*, quint8);

    QStringList m_candidates;
    QLibrary m_library;
    JpegFn m_jpeg = nullptr;
    PngFn m_png = nullptr;
};
