#pragma once

#include <QtGlobal>

// Image library with a C interface, loaded by the client at run time.
//
// `dc` is the handle of a picture: a pointer to the QImage that holds it.
// Width and height select the top-left part of the picture that is written;
// `fileName` is the target file name in Windows code page 932. Both functions
// return 1 when the file was written and 0 otherwise.
#ifdef TRANSG32_BUILDING
#define TRANSG32_EXPORT Q_DECL_EXPORT
#else
#define TRANSG32_EXPORT Q_DECL_IMPORT
#endif

extern "C" {

// JPEG at the given quality (0..100; larger values count as 100). `reserved`
// is always 0.
TRANSG32_EXPORT qint16 DCSavetoJPEG(const void* dc, qint32 width, qint32 height,
                                    const char* fileName, quint8 quality, qint32 reserved);

// PNG; `option` is always 0.
TRANSG32_EXPORT qint16 DCSavetoPNG(const void* dc, qint32 width, qint32 height,
                                   const char* fileName, quint8 option);

} // extern "C"
