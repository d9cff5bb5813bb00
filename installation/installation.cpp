#include "installation/installation.h"

#include "platform/platform.h"

namespace Install {

QString installerPath(const QString &appDir)
{
    return appDir + QLatin1String("/Hultrex") + Platform::executableSuffix();
}

QByteArray appendListEntry(const QByteArray &list, const QByteArray &entry, char separator)
{
    if (list.isEmpty())
        return entry;
    return list + separator + entry;
}

QByteArray appendListEntryOnce(const QByteArray &list, const QByteArray &entry, char separator)
{
    if (list == entry || list.endsWith(separator + entry))
        return list;
    return appendListEntry(list, entry, separator);
}

} // namespace Install
