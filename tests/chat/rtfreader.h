#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

// A deliberately small RTF reader for the tests: groups, control words and
// symbols, \'hh bytes (decoded as CP932), \uN with \ucN fallback skipping,
// the font and colour tables, \par/\pard, \li/\fi and the run properties
// \f, \fs, \cf, \plain. Enough to read back what the chat writes the way a
// word processor would, and independent of the writer's code.
struct RtfRun {
    QString text;
    QString font;        // face name from the font table
    int halfPoints = 24; // RTF default 12pt
    QColor color;        // invalid: automatic colour
};

struct RtfParagraph {
    int leftIndent = 0; // twips
    int firstIndent = 0;
    QList<RtfRun> runs;
    QString text() const;
};

struct RtfDocument {
    bool ok = false;
    QString error;
    QStringList fonts; // by font number
    QList<QColor> colors;
    QList<RtfParagraph> paragraphs;
};

// `unicode` false reads like an old reader that ignores \u and shows the
// CP932 fallback bytes instead.
RtfDocument readRtf(const QByteArray& data, bool unicode = true);
