#include "platform/platform.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace Platform {

char pathListSeparator()
{
    return ':';
}

QString executableSuffix()
{
    return QString();
}

QByteArray headlessPlatformWhenNoDisplay()
{
    // Without a display server the default platform plugin aborts the
    // process; the start-up sequence shows no window, so it can do without.
    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    return hasDisplay ? QByteArray() : QByteArrayLiteral("minimal");
}

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    // The desktop's opener chooses the editor the user is used to.
    return startDetached(QStringLiteral("xdg-open"), {filePath}, environment);
}

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A target that is mounted on, or an executable being written, may be free
// again in a moment; everything else rename() reports stays as it is.
bool mayGoAway(int error)
{
    return error == EBUSY || error == ETXTBSY || error == EAGAIN || error == EINTR;
}

} // namespace

Replacement replaceFile(const QString &from, const QString &to, QString *reason)
{
    // rename() replaces the name in one step, also that of a running
    // executable, which keeps its old content for as long as it runs.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return Replacement::Done;
    const int error = errno;
    *reason = errorText(error);
    return mayGoAway(error) ? Replacement::Busy : Replacement::Refused;
}

bool flushToDisk(int descriptor, QString *reason)
{
    // fsync rather than fdatasync: the permissions given to the new version
    // must survive too, or a program could come back not runnable.
    if (::fsync(descriptor) == 0)
        return true;
    *reason = errorText(errno);
    return false;
}

bool syncDirectory(const QString &path, QString *reason)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        *reason = errorText(errno);
        return false;
    }
    const bool synced = ::fsync(descriptor) == 0;
    if (!synced)
        *reason = errorText(errno);
    ::close(descriptor);
    return synced;
}

QString lastErrorText()
{
    return errorText(errno);
}

QString isDirectoryText()
{
    return errorText(EISDIR);
}

} // namespace Platform
