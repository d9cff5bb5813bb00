#include "platform/process.h"

#include "platform/environment.h"
#include "platform/files.h"

#include <QByteArrayList>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <limits>
#include <vector>

namespace Platform {

QString executableSuffix()
{
    return QString();
}

namespace {

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
// a failed exec reported back through a pipe that closes on success, with
// its error. handedOn, unless -1, reaches the program as handedOnDescriptor.
Failure startDetachedBytes(QByteArrayList arguments, const QProcessEnvironment &environment,
                           const QByteArray &workingDirectory, int handedOn = -1)
{
    // A variable this process has unchanged goes on with its own bytes, which
    // text may not hold (Qt 6 decodes them as UTF-8 and loses the rest).
    QByteArrayList variables;
    for (const QString &name : environment.keys()) {
        const QByteArray encodedName = QFile::encodeName(name);
        const QString value = environment.value(name);
        const QByteArray own = qgetenv(encodedName.constData());
        variables.append(
            encodedName + '=' +
            (qEnvironmentVariableIsSet(encodedName.constData()) && QFile::decodeName(own) == value
                 ? own
                 : QFile::encodeName(value)));
    }
    const std::vector<char *> argv = pointers(arguments);
    const std::vector<char *> envp = pointers(variables);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return lastSystemError();
    const pid_t child = ::fork();
    const int forkError = errno;
    if (child == 0) {
        ::close(report[0]);
        const pid_t grandchild = ::fork();
        if (grandchild > 0)
            ::_exit(0);
        if (grandchild == 0) {
            ::setsid();
            // dup2 clears close-on-exec on the copy; a descriptor that has the
            // number already keeps it unless told.
            const bool handed =
                handedOn < 0 || (handedOn == handedOnDescriptor
                                     ? ::fcntl(handedOn, F_SETFD, 0) == 0
                                     : ::dup2(handedOn, handedOnDescriptor) == handedOnDescriptor);
            if (handed &&
                (workingDirectory.isEmpty() || ::chdir(workingDirectory.constData()) == 0))
                ::execve(argv[0], argv.data(), envp.data());
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
    const SystemError unread = lastSystemError();
    ::close(report[0]);
    if (child < 0)
        return systemError(forkError);
    if (got == 0)
        return std::nullopt;
    if (got == sizeof error)
        return systemError(error);
    // The report itself could not be read: the start may have failed.
    return got < 0 ? unread : ownError(QStringLiteral("The start was not reported whole"));
}

QByteArrayList encodedCommand(const QString &program, const QStringList &arguments)
{
    QByteArrayList encoded{encodeArgument(program)};
    for (const QString &argument : arguments)
        encoded.append(encodeArgument(argument));
    return encoded;
}

} // namespace

Failure startDetached(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &environment, const QString &workingDirectory)
{
    // Every start takes the byte-exact way: QProcess hands arguments on as
    // text in the locale's encoding, which would change bytes that are not,
    // and tells no reason when the exec fails.
    return startDetachedBytes(encodedCommand(program, arguments), environment,
                              QFile::encodeName(workingDirectory));
}

Failure startDetachedHandingOn(const QString &program, const QStringList &arguments,
                               const QProcessEnvironment &environment, int descriptor)
{
    return startDetachedBytes(encodedCommand(program, arguments), environment, QByteArray(),
                              descriptor);
}

Interpreter systemInterpreter()
{
    return Interpreter::Shell;
}

Failure startHiddenCommandLine(const QString &, const QProcessEnvironment &)
{
    return systemError(ENOSYS);
}

QString systemDirectory()
{
    return QString();
}

QString windowsDirectory()
{
    return QString();
}

bool startedProcessRuns(qint64)
{
    return true;
}

QString findProgram(const QString &name, const QProcessEnvironment &environment)
{
    const QStringList directories =
        environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'));
    for (const QString &directory : directories) {
        if (!directory.startsWith(QLatin1Char('/')))
            continue;
        QString path = directory + QLatin1Char('/') + name;
        if (::access(QFile::encodeName(path).constData(), X_OK) == 0 && QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

bool processRunsWith(qint64 pid, const QByteArray &argument)
{
    const std::optional<QByteArray> arguments =
        readRegularFile(QStringLiteral("/proc/%1/cmdline").arg(pid), 1 << 20);
    if (!arguments) {
        // No readable /proc: whether the process lives at all must do.
        return pid > 0 && pid <= std::numeric_limits<pid_t>::max() &&
               (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
    }
    return arguments->split('\0').contains(argument);
}

Failure startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    // The desktop's opener chooses the editor the user is used to.
    const QString opener = findProgram(QStringLiteral("xdg-open"), environment);
    if (opener.isEmpty())
        return systemError(ENOENT);
    return startDetached(opener, {filePath}, environment);
}

} // namespace Platform
