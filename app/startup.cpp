#include "app/startup.h"

#include "installation/installation.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "update/deferredcopy.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

namespace Startup {

QString resolveWorkDirPath(const QString &appDir, const std::optional<QByteArray> &workpath)
{
    const QString workdir = QStringLiteral("/workdir");
    if (!workpath)
        return appDir + workdir;

    // The file is written by hand, often on Windows: surrounding white space
    // and line ends do not count, nor does anything after a NUL byte.
    const QByteArray bytes = workpath->trimmed();
    QString path = QString::fromLocal8Bit(bytes.constData());
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    path += workdir;

    // A path that begins with a dot is relative to the application directory.
    if (path.startsWith(QLatin1String("./")))
        path = appDir + path.mid(1);
    else if (path.startsWith(QLatin1Char('.')))
        path = appDir + QLatin1Char('/') + path;
    return path;
}

bool fitsVariable(int units, int largest)
{
    return largest < 0 || units <= largest;
}

bool isUpdateOption(const QByteArray &argument)
{
    return QString::fromUtf8(argument).trimmed() == QLatin1String("-r");
}

std::optional<QByteArray> readWorkpathFile(const QString &appDir)
{
    // One path and some white space: a file much larger than this is no
    // "workpath" file, and one that is not a file is never waited for.
    constexpr qint64 largestWorkpath = qint64(64) * 1024;
    return Platform::readRegularFile(appDir + QLatin1String("/workpath"), largestWorkpath);
}

static void extendPath(const QString &appDir)
{
    // A program restarted by the self-update inherits the extended PATH: the
    // entry is added once, not once per restart.
    const QString directory = appDir + QLatin1String("/clientslibs");
    const Platform::EnvironmentValue path = Platform::environmentValue("PATH");
    const Platform::EnvironmentValue extended = Installation::appendListEntry(
        path, Platform::toEnvironmentValue(directory), Platform::pathListSeparator());
    // A value the system would refuse, or cut in the middle of an entry,
    // is not set: the installer gets the PATH it had.
    if (!fitsVariable(extended.size(), Platform::largestEnvironmentValue())) {
        Installation::logError("Error. PATH is too long to append ", directory);
        return;
    }
    Platform::setEnvironmentValue("PATH", extended);
}

Installation::ExitCode prepareProcess(Context *context)
{
    // Taken before the working directory is entered: a relative "workpath"
    // is resolved against it, by this process and by a restarted one.
    context->startDirPath = QDir::currentPath();
    const QString appDir = QCoreApplication::applicationDirPath();
    extendPath(appDir);

    const QString path = resolveWorkDirPath(appDir, readWorkpathFile(appDir));
    if (!QDir(QDir::currentPath()).mkpath(path)) {
        Installation::logError("Error. Can't create work directory ", path);
        return Installation::CannotCreateWorkDir;
    }
    if (!QDir::setCurrent(path)) {
        Installation::logError("Error. Directory can not be set like current ", path);
        return Installation::CannotEnterWorkDir;
    }

    context->workDirPath = path;
    context->childEnvironment = QProcessEnvironment::systemEnvironment();
    // A program restarted by the deferred copy got the paths the interpreter
    // worked with: they go no further.
    Update::dropDeferredCopyVariables(&context->childEnvironment);
    return Installation::Ok;
}

} // namespace Startup
