#include "installation/installation.h"

#include <QCoreApplication>
#include <QDebug>

#include "platform/process.h"

namespace Installation {

QString installerPath(const QString &appDir)
{
    return appDir + QLatin1String("/Hultrex") + Platform::executableSuffix();
}

Platform::Failure startInstaller(const QStringList &arguments,
                                 const QProcessEnvironment &environment)
{
    const QString path = installerPath(QCoreApplication::applicationDirPath());
    Platform::Failure failed = Platform::startDetached(path, arguments, environment);
    if (failed)
        logError("Error. Can't start installer ", path + QLatin1String(": ") + failed->text);
    return failed;
}

template<typename Text, typename Separator>
static Text appendOnce(const Text &list, const Text &entry, Separator separator)
{
    if (list.isEmpty())
        return entry;
    if (list == entry || list.endsWith(separator + entry))
        return list;
    return list + separator + entry;
}

QByteArray appendListEntry(const QByteArray &list, const QByteArray &entry, char separator)
{
    return appendOnce(list, entry, separator);
}

QString appendListEntry(const QString &list, const QString &entry, char separator)
{
    return appendOnce(list, entry, QChar(QLatin1Char(separator)));
}

void logError(const char *text, const QString &detail)
{
    qDebug() << QString(QLatin1String(text) + detail);
}

} // namespace Installation
