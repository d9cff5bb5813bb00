#include "update/deferredcopy.h"

#include "update/errorreport.h"

namespace Update {

namespace {

// The part of path up to and including its last separator of directories.
QString directoryPart(const QString &path)
{
    const int separator =
        qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.left(separator + 1);
}

// The temporary name of the n-th copy: beside its target, so that the final
// rename stays within one directory (one file system), and named so that it
// is seen at once for what it is.
QString temporaryPath(const QString &target, qint64 chain, int n)
{
    return directoryPart(target) + QStringLiteral(".Orvane-deferred-") + QString::number(chain) +
           QLatin1Char('-') + QString::number(n);
}

// The common beginning of the reports' paths: beside the error file.
QString reportPrefix(const QString &errorFile, qint64 chain)
{
    return directoryPart(errorFile) + QStringLiteral(".Orvane-report-") + QString::number(chain) +
           QLatin1Char('-');
}

QString reference(const char *name, int n)
{
    return QStringLiteral("\"%ORVANE_") + QLatin1String(name) + QString::number(n) +
           QStringLiteral("%\"");
}

QString report(int n)
{
    return QStringLiteral("\"%ORVANE_E%") + QString::number(n) + QLatin1Char('"');
}

// The messages for the copies from the n-th on (from 0), none of them made.
QStringList notCopied(const CopyList &copies, int from)
{
    QStringList messages;
    for (int i = from; i < copies.size(); ++i)
        messages.append(cannotCopyMessage(copies.at(i).second, QString()));
    return messages;
}

} // namespace

QString deferredCopyCommandLine(int copyCount, bool otherErrors)
{
    // "ping" is the interpreter's way to wait: three echo requests take about
    // two seconds, time for the program to end and release its files.
    // Delayed expansion is switched off whatever the registry says, so a "!"
    // in a path is an ordinary character. A variable's value is expanded
    // once and never read again as syntax, and inside double quotes "&", "^"
    // and the like are plain text; Windows paths hold no double quote.
    const QString errorFile = QStringLiteral("\"%ORVANE_F%\"");
    const QString openErrorFile = QStringLiteral("start \"\" notepad.exe ") + errorFile;
    QString commandLine = QStringLiteral("cmd.exe /v:off /c ping -n 3 localhost");
    QString leftOver;
    QString firstReport;
    for (int n = 1; n <= copyCount; ++n) {
        commandLine += QStringLiteral(" && copy /Y ") + reference("S", n) + QLatin1Char(' ') +
                       reference("N", n) + QStringLiteral(" && move /Y ") + reference("N", n) +
                       QLatin1Char(' ') + reference("T", n) + QStringLiteral(" && del ") +
                       report(n);
        leftOver += QLatin1Char(' ') + reference("N", n);
        // Moved last to first: the report of the first copy not made stays.
        firstReport.prepend(QStringLiteral(" & move /Y ") + report(n) + QLatin1Char(' ') +
                            errorFile);
    }
    if (otherErrors) {
        commandLine += QStringLiteral(" && move /Y ") + report(0) + QLatin1Char(' ') + errorFile +
                       QStringLiteral(" && ") + openErrorFile;
        leftOver += QLatin1Char(' ') + report(0);
    }
    // The restarted program resolves a relative working directory against
    // its current directory: it starts where the program was started.
    // "start" hands the program over and returns: the interpreter does not
    // wait for it, so its end, whatever its exit code, is no failure of the
    // chain.
    commandLine += QStringLiteral(" && cd /d \"%ORVANE_D%\" && start \"\" \"%ORVANE_R%\"");
    // "&&" binds tighter than "||": whichever step failed, the temporary
    // files go (those already moved into place no longer exist), and so do
    // the reports, the one of the failed copy into the error file.
    if (copyCount > 0)
        commandLine += QStringLiteral(" || (del /f /q") + leftOver + firstReport +
                       QStringLiteral(" & if exist ") + errorFile + QLatin1Char(' ') +
                       openErrorFile + QLatin1Char(')');
    return commandLine;
}

VariableList deferredCopyVariables(const DeferredCopy &copy, qint64 chain)
{
    VariableList variables;
    int n = 0;
    for (const auto &file : copy.copies) {
        const QString number = QString::number(++n);
        variables.append({QStringLiteral("ORVANE_S") + number, file.second});
        variables.append(
            {QStringLiteral("ORVANE_N") + number, temporaryPath(file.first, chain, n)});
        variables.append({QStringLiteral("ORVANE_T") + number, file.first});
    }
    variables.append({QStringLiteral("ORVANE_D"), copy.startDirectory});
    variables.append({QStringLiteral("ORVANE_R"), copy.restartProgram});
    variables.append({QStringLiteral("ORVANE_E"), reportPrefix(copy.errorFile, chain)});
    variables.append({QStringLiteral("ORVANE_F"),
                      QString(copy.errorFile).replace(QLatin1Char('/'), QLatin1Char('\\'))});
    return variables;
}

QList<QPair<QString, QStringList>> deferredCopyReports(const DeferredCopy &copy, qint64 chain)
{
    const QString prefix = reportPrefix(copy.errorFile, chain);
    QList<QPair<QString, QStringList>> reports;
    if (!copy.otherErrors.isEmpty())
        reports.append({prefix + QLatin1Char('0'), copy.otherErrors});
    for (int n = 1; n <= copy.copies.size(); ++n)
        reports.append(
            {prefix + QString::number(n), copy.otherErrors + notCopied(copy.copies, n - 1)});
    return reports;
}

QStringList deferredCopyShellArguments(const DeferredCopy &copy)
{
    // $1 is the program to restart, $2 the directory to restart it in, $3
    // the error file, $4 the other errors, then source, target and message
    // of every copy. Whether a target's directory takes a new name is asked
    // when the copy is due, not tried: a failed step must end the chain,
    // never lead to another way of writing the target.
    // The new version is flushed before it takes the target's name (rename()
    // replaces the name in one step) and the directory after it; "-T" makes
    // a directory in the target's place a failure instead of a destination.
    // The temporary file gets the new version's permissions, and its owner
    // may read, write and run it, as in the replacement pass, which gives no
    // file set-user-ID, set-group-ID or sticky bits either.
    // What a failed tool writes to its error channel becomes the reason.
    static const QString script = QStringLiteral(
        "restart=$1 start=$2 report=$3 earlier=$4; shift 4; nl='\n'; "
        "crlf=$(printf '\\r\\n_'); crlf=${crlf%_}; "
        "c() { command -p \"$@\"; }; "
        "put() { printf '%s%s' \"$sep\" \"$1\"; sep=$crlf; }; "
        "edit() { if command -v xdg-open >/dev/null; then xdg-open \"$report\"; "
        "else c xdg-open \"$report\"; fi; }; "
        "fail() { why=${1%%\"$nl\"*}; shift; sep=; "
        "{ if [ -n \"$earlier\" ]; then put \"$earlier\"; fi; "
        "while [ \"$#\" -ge 3 ]; do put \"$3$why\"; why=; shift 3; done; } >\"$report\" && edit; "
        "exit 1; }; "
        "c sleep 2 || exit; "
        "while [ \"$#\" -ge 3 ]; do "
        "case $2 in */*) dir=${2%/*}; dir=${dir:-/};; *) dir=.;; esac; "
        "if [ -w \"$dir\" ]; then "
        "why=$({ tmp=$(c mktemp -- \"$dir/.Orvane-deferred-XXXXXX\") && "
        "{ c cp -- \"$1\" \"$tmp\" && c chmod --reference=\"$1\" -- \"$tmp\" && "
        "c chmod u+rwx,a-st -- \"$tmp\" && c sync -- \"$tmp\" && c mv -f -T -- \"$tmp\" \"$2\" || "
        "{ c rm -f -- \"$tmp\"; false; }; } && c sync -- \"$dir\"; } 2>&1 >/dev/null) || "
        "fail \"$why\" \"$@\"; "
        "else why=$({ c cp -f -T -- \"$1\" \"$2\" && c sync -- \"$2\"; } 2>&1 >/dev/null) || "
        "fail \"$why\" \"$@\"; fi; "
        "shift 3; done; "
        "if [ -n \"$earlier\" ]; then { sep=; put \"$earlier\" >\"$report\" && edit; } & fi; "
        "cd -- \"$start\" || exit; exec \"$restart\"");
    QStringList arguments{QStringLiteral("-c"),
                          script,
                          QStringLiteral("orvane-update"),
                          copy.restartProgram,
                          copy.startDirectory,
                          copy.errorFile,
                          copy.otherErrors.join(QLatin1String("\r\n"))};
    const QStringList messages = notCopied(copy.copies, 0);
    for (int i = 0; i < copy.copies.size(); ++i)
        arguments << copy.copies.at(i).second << copy.copies.at(i).first << messages.at(i);
    return arguments;
}

} // namespace Update
