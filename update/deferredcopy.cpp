#include "update/deferredcopy.h"

#include "platform/hiddenprocess.h"
#include "platform/platform.h"

#include <QCoreApplication>

namespace Update {

namespace {

// The temporary name of the n-th copy: beside its target, so that the final
// rename stays within one directory (one file system), and named so that it
// is seen at once for what it is.
QString temporaryPath(const QString &target, qint64 chain, int n)
{
    const int separator =
        qMax(target.lastIndexOf(QLatin1Char('/')), target.lastIndexOf(QLatin1Char('\\')));
    return target.left(separator + 1) + QStringLiteral(".Orvane-deferred-") +
           QString::number(chain) + QLatin1Char('-') + QString::number(n);
}

QString reference(const char *name, int n)
{
    return QStringLiteral("\"%ORVANE_") + QLatin1String(name) + QString::number(n) +
           QStringLiteral("%\"");
}

} // namespace

QString deferredCopyCommandLine(int copyCount)
{
    // "ping" is the interpreter's way to wait: three echo requests take about
    // two seconds, time for the program to end and release its files.
    // Delayed expansion is switched off whatever the registry says, so a "!"
    // in a path is an ordinary character. A variable's value is expanded
    // once and never read again as syntax, and inside double quotes "&", "^"
    // and the like are plain text; Windows paths hold no double quote.
    QString commandLine = QStringLiteral("cmd.exe /v:off /c ping -n 3 localhost");
    QString temporaries;
    for (int n = 1; n <= copyCount; ++n) {
        commandLine += QStringLiteral(" && copy /Y ") + reference("S", n) + QLatin1Char(' ') +
                       reference("N", n) + QStringLiteral(" && move /Y ") + reference("N", n) +
                       QLatin1Char(' ') + reference("T", n);
        temporaries += QLatin1Char(' ') + reference("N", n);
    }
    // The restarted program resolves a relative working directory against
    // its current directory: it starts where the program was started.
    commandLine += QStringLiteral(" && cd /d \"%ORVANE_D%\" && \"%ORVANE_R%\"");
    // "&&" binds tighter than "||": whichever step failed, the temporary
    // files go; those already moved into place no longer exist.
    if (copyCount > 0)
        commandLine += QStringLiteral(" || del /f /q") + temporaries;
    return commandLine;
}

VariableList deferredCopyVariables(const CopyList &copies, const QString &restartProgram,
                                   const QString &startDirectory, qint64 chain)
{
    VariableList variables;
    int n = 0;
    for (const auto &copy : copies) {
        const QString number = QString::number(++n);
        variables.append({QStringLiteral("ORVANE_S") + number, copy.second});
        variables.append(
            {QStringLiteral("ORVANE_N") + number, temporaryPath(copy.first, chain, n)});
        variables.append({QStringLiteral("ORVANE_T") + number, copy.first});
    }
    variables.append({QStringLiteral("ORVANE_D"), startDirectory});
    variables.append({QStringLiteral("ORVANE_R"), restartProgram});
    return variables;
}

QStringList deferredCopyShellArguments(const CopyList &copies, const QString &restartProgram,
                                       const QString &startDirectory)
{
    // $1 is the program to restart, $2 the directory to restart it in, then
    // source and target of every copy. Whether a target's directory takes a
    // new name is asked when the copy is due, not tried: a failed step must
    // end the chain, never lead to another way of writing the target.
    // The new version is flushed before it takes the target's name (rename()
    // replaces the name in one step) and the directory after it; "-T" makes
    // a directory in the target's place a failure instead of a destination.
    // The temporary file gets the new version's permissions, and its owner
    // may read, write and run it, as in the replacement pass.
    static const QString script = QStringLiteral(
        "restart=$1; start=$2; shift 2; sleep 2 || exit; "
        "while [ \"$#\" -ge 2 ]; do "
        "case $2 in */*) dir=${2%/*}; dir=${dir:-/};; *) dir=.;; esac; "
        "if [ -w \"$dir\" ]; then "
        "tmp=$(mktemp -- \"$dir/.Orvane-deferred-XXXXXX\") || exit; "
        "if ! { cp -- \"$1\" \"$tmp\" && chmod --reference=\"$1\" -- \"$tmp\" && "
        "chmod u+rwx -- \"$tmp\" && sync -- \"$tmp\" && mv -f -T -- \"$tmp\" \"$2\"; }; then "
        "rm -f -- \"$tmp\"; exit 1; fi; "
        "sync -- \"$dir\" || exit; "
        "else cp -f -T -- \"$1\" \"$2\" && sync -- \"$2\" || exit; fi; "
        "shift 2; done; "
        "cd -- \"$start\" || exit; exec \"$restart\"");
    QStringList arguments{QStringLiteral("-c"), script, QStringLiteral("orvane-update"),
                          restartProgram, startDirectory};
    for (const auto &copy : copies)
        arguments << copy.second << copy.first;
    return arguments;
}

bool fitsCommandBuffer(const QString &commandLine)
{
    return Platform::fitsCommandBuffer(static_cast<std::size_t>(commandLine.size()));
}

bool startDeferredCopy(const CopyList &copies, const QString &restartProgram,
                       const QString &startDirectory, const QProcessEnvironment &environment)
{
#ifdef Q_OS_WIN
    // The interpreter gets the children's environment with the paths added.
    QProcessEnvironment interpreterEnvironment = environment;
    for (const auto &variable : deferredCopyVariables(copies, restartProgram, startDirectory,
                                                      QCoreApplication::applicationPid()))
        interpreterEnvironment.insert(variable.first, variable.second);
    return Platform::startHiddenCommandLine(deferredCopyCommandLine(copies.size()),
                                            interpreterEnvironment);
#else
    return Platform::startDetached(
        QStringLiteral("/bin/sh"),
        deferredCopyShellArguments(copies, restartProgram, startDirectory), environment);
#endif
}

} // namespace Update
