#include "update/deferredcopy.h"

#include "platform/hiddenprocess.h"
#include "platform/platform.h"

namespace Update {

QString deferredCopyCommandLine(const CopyList &copies, const QString &restartProgram)
{
    // "ping" is the interpreter's way to wait: three echo requests take about
    // two seconds, time for the program to end and release its files.
    QString commandLine = QStringLiteral("cmd.exe /c ping -n 3 localhost");
    for (const auto &copy : copies) {
        // Both paths in one substitution: a "%1" inside the source path must
        // not be replaced by the target path.
        commandLine += QStringLiteral(" && copy /Y \"%0\" \"%1\"").arg(copy.second, copy.first);
    }
    commandLine += QStringLiteral(" && \"%0\"").arg(restartProgram);
    return commandLine;
}

QStringList deferredCopyShellArguments(const CopyList &copies, const QString &restartProgram)
{
    // $1 is the program to restart, then source and target of every copy.
    // A failed step ends the script: the later copies and the restart do not
    // happen, so a half-updated installation is not started.
    static const QString script =
        QStringLiteral("restart=$1; shift; sleep 2 || exit; "
                       "while [ \"$#\" -ge 2 ]; do cp -f -- \"$1\" \"$2\" || exit; shift 2; done; "
                       "exec \"$restart\"");
    QStringList arguments{QStringLiteral("-c"), script, QStringLiteral("orvane-update"),
                          restartProgram};
    for (const auto &copy : copies)
        arguments << copy.second << copy.first;
    return arguments;
}

bool fitsCommandBuffer(const QString &commandLine)
{
    return Platform::fitsCommandBuffer(static_cast<std::size_t>(commandLine.size()));
}

bool startDeferredCopy(const CopyList &copies, const QString &restartProgram,
                       const QProcessEnvironment &environment)
{
#ifdef Q_OS_WIN
    // The interpreter inherits this process's environment, which is the
    // environment the children get.
    Q_UNUSED(environment)
    return Platform::startHiddenCommandLine(deferredCopyCommandLine(copies, restartProgram));
#else
    return Platform::startDetached(QStringLiteral("/bin/sh"),
                                   deferredCopyShellArguments(copies, restartProgram), environment);
#endif
}

} // namespace Update
