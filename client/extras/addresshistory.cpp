#include "addresshistory.h"

#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace {

// A server address is one line of printable text without blanks inside.
bool isAddress(const QString& text) {
    if (text.isEmpty() || text.size() > AddressHistory::MaxAddressLength)
        return false;
    for (const QChar c : text) {
        if (!c.isPrint() || c.isSpace() || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

// Adds `address` unless the list holds it already (without regard to case).
void addDistinct(QStringList& list, const QString& address) {
    if (list.size() < AddressHistory::MaxEntries && isAddress(address) &&
        !list.contains(address, Qt::CaseInsensitive))
        list << address;
}

} // namespace

QString AddressHistory::filePath() const {
    const QString name = QString::fromLatin1(FileName);
    return m_directory.isEmpty() ? name : QDir(m_directory).filePath(name);
}

QStringList AddressHistory::parse(const QByteArray& content) {
    QStringList addresses;
    for (const QByteArray& line : content.left(MaxFileBytes).split('\n')) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        const QString text = utf8(line);
        if (!utf8.hasError())
            addDistinct(addresses, text.trimmed());
    }
    return addresses;
}

QByteArray AddressHistory::format(const QStringList& addresses) {
    QByteArray content;
    for (const QString& address : addresses)
        content += address.toUtf8() + '\n';
    return content;
}

QStringList AddressHistory::addresses() const {
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.read(MaxFileBytes));
}

bool AddressHistory::rememberAddress(const QString& address) {
    QStringList list;
    addDistinct(list, address.trimmed());
    if (list.isEmpty())
        return false;
    for (const QString& earlier : addresses())
        addDistinct(list, earlier);
    return wholefile::write(filePath(), format(list)).isEmpty();
}
