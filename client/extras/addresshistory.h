#pragma once

#include "connectioncontrol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The server addresses this member connected to, newest first, kept between
// runs in "sketora-servers.txt" beside the settings file (the settings file
// itself keeps its fixed keys). One address a line, UTF-8, at most
// MaxEntries lines. The file is read when asked and written whole after each
// connection; what a damaged or foreign file holds beyond the bounds (long
// lines, control characters, undecodable bytes, more lines, a huge file) is
// skipped, never taken as an address.
class AddressHistory : public AddressBook {
public:
    static constexpr char FileName[] = "sketora-servers.txt";
    static constexpr int MaxEntries = 10;
    static constexpr int MaxAddressLength = 253; // the longest host name
    static constexpr qint64 MaxFileBytes = 64 * 1024;

    // `directory`: where the settings file lives (the current directory when
    // empty), asked at each read and write.
    explicit AddressHistory(QString directory = QString()) : m_directory(std::move(directory)) {}

    QStringList addresses() const override;
    // Puts `address` first, dropping an earlier copy (host names compare
    // without case) and the oldest beyond MaxEntries. False when the file
    // could not be written.
    bool rememberAddress(const QString& address);
    void remember(const QString& address) override { rememberAddress(address); }

    // The file's addresses as read: trimmed, valid, distinct, bounded.
    static QStringList parse(const QByteArray& content);
    static QByteArray format(const QStringList& addresses);

private:
    QString filePath() const;

    QString m_directory;
};
