#include "update/deferredcopy.h"

#include "update/errorreport.h"
#include "update/paths.h"

#include "deferredcopy_script.h"

#include <algorithm>

namespace Update {

namespace {

// The temporary name of the n-th copy: beside its target, so that the final
// rename stays within one directory (one file system), and named so that it
// is seen at once for what it is.
QString temporaryPath(const QString &target, qint64 chain, int n)
{
    return directoryPrefixOf(target) + QStringLiteral(".Orvane-deferred-") +
           QString::number(chain) + QLatin1Char('-') + QString::number(n);
}

// The common beginning of the reports' paths: beside the error file.
QString reportPrefix(const QString &errorFile, qint64 chain)
{
    return directoryPrefixOf(errorFile) + QStringLiteral(".Orvane-report-") +
           QString::number(chain) + QLatin1Char('-');
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

bool isDeferredCopyFileName(const QString &fileName, qint64 *chain)
{
    const QLatin1String prefix(".Orvane-deferred-");
    if (!fileName.startsWith(prefix))
        return false;
    const QString rest = fileName.mid(prefix.size());
    const auto isAlphanumeric = [](const QString &text) {
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
            return c.unicode() < 0x80 && c.isLetterOrNumber();
        });
    };
    const int dash = rest.indexOf(QLatin1Char('-'));
    if (dash < 0) {
        *chain = 0;
        return rest.size() == 6 && isAlphanumeric(rest);
    }
    bool number = false;
    *chain = rest.left(dash).toLongLong(&number);
    return isAlphanumeric(rest.left(dash)) && number && *chain > 0 &&
           isAlphanumeric(rest.mid(dash + 1));
}

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
    // The steps, each run only when the one before succeeded ("&&").
    QStringList steps{QStringLiteral("cmd.exe /v:off /c ping -n 3 localhost")};
    // What goes when a step fails: the temporary files (those already moved
    // into place no longer exist) and the reports.
    QStringList leftOver;
    // The reports moved to the error file last to first, so that the one of
    // the first copy not made stays.
    QStringList firstReport;
    for (int n = 1; n <= copyCount; ++n) {
        steps << QStringLiteral("copy /Y ") + reference("S", n) + QLatin1Char(' ') +
                     reference("N", n)
              << QStringLiteral("move /Y ") + reference("N", n) + QLatin1Char(' ') +
                     reference("T", n)
              << QStringLiteral("del ") + report(n);
        leftOver << reference("N", n);
        firstReport.prepend(QStringLiteral("move /Y ") + report(n) + QLatin1Char(' ') + errorFile);
    }
    if (otherErrors) {
        steps << QStringLiteral("move /Y ") + report(0) + QLatin1Char(' ') + errorFile
              << openErrorFile;
        leftOver << report(0);
    }
    // The restarted program resolves a relative working directory against
    // its current directory: it starts where the program was started.
    // "start" hands the program over and returns: the interpreter does not
    // wait for it, so its end, whatever its exit code, is no failure of the
    // chain.
    steps << QStringLiteral("cd /d \"%ORVANE_D%\"") << QStringLiteral("start \"\" \"%ORVANE_R%\"");
    QString commandLine = steps.join(QLatin1String(" && "));
    // "&&" binds tighter than "||": whichever step failed, the clean-up runs,
    // each of its steps whatever the one before did ("&").
    if (copyCount > 0) {
        const QStringList cleanUp =
            QStringList{QStringLiteral("del /f /q ") + leftOver.join(QLatin1Char(' '))} +
            firstReport +
            QStringList{QStringLiteral("if exist ") + errorFile + QLatin1Char(' ') + openErrorFile};
        commandLine +=
            QStringLiteral(" || (") + cleanUp.join(QLatin1String(" & ")) + QLatin1Char(')');
    }
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

QStringList deferredCopyShellArguments(const DeferredCopy &copy, const QString &editor)
{
    // deferredcopy.sh says what the arguments are.
    static const QString script = QString::fromUtf8(deferredCopyScript);
    QStringList arguments{QStringLiteral("-c"),
                          script,
                          QStringLiteral("orvane-update"),
                          copy.restartProgram,
                          copy.startDirectory,
                          copy.errorFile,
                          copy.otherErrors.join(QLatin1String("\r\n")),
                          editor};
    const QStringList messages = notCopied(copy.copies, 0);
    for (int i = 0; i < copy.copies.size(); ++i)
        arguments << copy.copies.at(i).second << copy.copies.at(i).first << messages.at(i);
    return arguments;
}

} // namespace Update
