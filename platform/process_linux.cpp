#include "platform/process.h"
#include "platform/process_p.h"

#include "platform/environment.h"

#include <QByteArrayList>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace Platform {

QString executableSuffix()
{
    return QString();
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

} // namespace Platform
