#include "platform/platform.h"
#include "platform/platform_p.h"

#include <QByteArrayList>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace Platform {

char pathListSeparator()
{
    return ':';
}

EnvironmentValue environmentValue(const char *name)
{
    return qgetenv(name);
}

void setEnvironmentValue(const char *name, const EnvironmentValue &value)
{
    qputenv(name, value);
}

EnvironmentValue toEnvironmentValue(const QString &text)
{
    return QFile::encodeName(text);
}

bool isPathSeparator(QChar c)
{
    return c == QLatin1Char('/');
}

bool runningProgramIsHeld()
{
    // A running executable keeps its old content when its name is replaced.
    return false;
}

QString executableSuffix()
{
    return QString();
}

QByteArray platformPlugins(bool showsWindows)
{
    // Qt's default plugin aborts the process when the display variables are
    // empty or name a server that cannot be reached (a dead SSH forwarding,
    // for one), while Qt tries a list of plugins in order and takes the
    // first that comes up. Connecting to a display is also time wasted for a
    // process that shows nothing.
    QByteArrayList plugins;
    if (showsWindows) {
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            plugins.append(QByteArrayLiteral("xcb"));
        if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            // Qt 6 prefers Wayland in a Wayland session; Qt 5 takes X first.
            const bool waylandFirst =
                QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && qgetenv("XDG_SESSION_TYPE") == "wayland";
            plugins.insert(waylandFirst ? 0 : plugins.size(), QByteArrayLiteral("wayland"));
        }
    }
    plugins.append(headlessPlatform());
    return plugins.join(';');
}

QStringList programArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeArgument(argv[i]));
    return arguments;
}

namespace {

bool holdsEscapedBytes(const QString &text)
{
    return encodeArgument(text) != QFile::encodeName(text);
}

// Pointers to the NUL-terminated texts, followed by a null pointer, as
// execve wants them.
std::vector<char *> pointers(QByteArrayList &texts)
{
    std::vector<char *> result;
    for (QByteArray &text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// QProcess::startDetached with arguments taken as bytes: two forks, so the
// program is nobody's child and lives on; its own session, as with QProcess;
// a failed exec reported back through a pipe that closes on success.
bool startDetachedBytes(QByteArrayList arguments, const QProcessEnvironment &environment,
                        const QByteArray &workingDirectory)
{
    QByteArrayList variables;
    for (const QString &variable : environment.toStringList())
        variables.append(QFile::encodeName(variable));
    const std::vector<char *> argv = pointers(arguments);
    const std::vector<char *> envp = pointers(variables);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const pid_t grandchild = ::fork();
        if (grandchild > 0)
            ::_exit(0);
        if (grandchild == 0) {
            ::setsid();
            if (workingDirectory.isEmpty() || ::chdir(workingDirectory.constData()) == 0)
                ::execvpe(argv[0], argv.data(), envp.data());
        }
        // A failed fork, chdir or exec: the report says the start failed.
        const int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return child > 0 && got == 0;
}

} // namespace

std::optional<bool> startDetachedAsBytes(const QString &program, const QStringList &arguments,
                                         const QProcessEnvironment &environment,
                                         const QString &workingDirectory)
{
    // QProcess hands arguments on as text in the locale's encoding, which
    // would change bytes that are not: those take the byte-exact way.
    if (!holdsEscapedBytes(program) &&
        std::none_of(arguments.begin(), arguments.end(), holdsEscapedBytes))
        return std::nullopt;
    QByteArrayList encoded{encodeArgument(program)};
    for (const QString &argument : arguments)
        encoded.append(encodeArgument(argument));
    return startDetachedBytes(encoded, environment, QFile::encodeName(workingDirectory));
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

KernelCopy copyContent(int fromDescriptor, int toDescriptor, QString *reason)
{
    bool copied = false;
    for (;;) {
        const ssize_t done =
            ::copy_file_range(fromDescriptor, nullptr, toDescriptor, nullptr, 1 << 30, 0);
        if (done > 0) {
            copied = true;
            continue;
        }
        if (done == 0) {
            // The disk starts writing the file while the next one is copied,
            // so the flush before the renames has less left to wait for.
            ::sync_file_range(toDescriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
            return KernelCopy::Done;
        }
        if (errno == EINTR)
            continue;
        // Older kernels and some file systems cannot; then nothing was copied.
        if (!copied && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                        errno == EOPNOTSUPP || errno == EBADF))
            return KernelCopy::Unsupported;
        *reason = errorText(errno);
        return KernelCopy::Failed;
    }
}

bool flushFiles(const QStringList &paths, QString *reason)
{
    // syncfs writes out the data and the metadata (the permissions given to
    // a new version included) of every file on the file system in one go:
    // once per file system, however many files were staged on it.
    QSet<dev_t> flushed;
    for (const QString &path : paths) {
        const QByteArray name = QFile::encodeName(path);
        struct stat status = {};
        if (::stat(name.constData(), &status) != 0) {
            *reason = errorText(errno);
            return false;
        }
        if (flushed.contains(status.st_dev))
            continue;
        const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        const bool done = descriptor >= 0 && ::syncfs(descriptor) == 0;
        const int error = errno;
        if (descriptor >= 0)
            ::close(descriptor);
        if (!done) {
            *reason = errorText(error);
            return false;
        }
        flushed.insert(status.st_dev);
    }
    return true;
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
