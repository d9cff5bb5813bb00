#include "update/deferredcopy.h"

#include "update/errorreport.h"
#include "update/paths.h"

#include "deferredcopy_script.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>

namespace Update {

namespace {

// The temporary name of the n-th copy: beside its target, so that the final
// rename stays within one directory (one file system), and named so that it
// is seen at once for what it is.
QString temporaryPath(const QString &target, const QString &chain, int n)
{
    return directoryPrefixOf(target) + QStringLiteral(".Orvane-deferred-") + chain +
           QLatin1Char('-') + QString::number(n);
}

// The common beginning of the reports' paths: beside the error file.
QString reportPrefix(const QString &errorFile, const QString &chain)
{
    return directoryPrefixOf(errorFile) + QStringLiteral(".Orvane-report-") + chain +
           QLatin1Char('-');
}

// What names a chain's files: its number, and its machine's where given.
QString chainPart(qint64 chain, const QString &host)
{
    return QString::number(chain) + (host.isEmpty() ? QString() : QLatin1Char('-') + host);
}

QString reference(const char *name, int n)
{
    return QStringLiteral("\"%ORVANE_") + QLatin1String(name) + QString::number(n) +
           QStringLiteral("%\"");
}

// The n-th report; -1 stands for all of them.
QString report(int n)
{
    return QStringLiteral("\"%ORVANE_E%") + (n < 0 ? QStringLiteral("*") : QString::number(n)) +
           QLatin1Char('"');
}

QString inDirectory(const QString &directory, const char *program)
{
    return directory + QLatin1Char('\\') + QLatin1String(program);
}

// The messages for the copies from the n-th on (from 0), none of them made.
QStringList notCopied(const CopyList &copies, int from)
{
    QStringList messages;
    for (int i = from; i < copies.size(); ++i)
        messages.append(cannotCopyMessage(copies.at(i).source, QString()));
    return messages;
}

} // namespace

QString deferredCopyHost()
{
    // The machine's own id tells it apart from a machine of the same name;
    // the name stands in where the system keeps no id.
    const QByteArray machine =
        QSysInfo::machineUniqueId() + '\n' + QSysInfo::machineHostName().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(machine, QCryptographicHash::Sha1).toHex().left(hostTagLength));
}

bool isDeferredCopyHost(const QString &text)
{
    return text.size() == hostTagLength && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

bool isDeferredCopyFileName(const QString &fileName, qint64 *chain, QString *host)
{
    if (host)
        host->clear();
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
    QString last = rest.mid(dash + 1);
    // A Windows chain's files name its machine too.
    const int hostDash = last.indexOf(QLatin1Char('-'));
    if (hostDash >= 0) {
        if (!isDeferredCopyHost(last.left(hostDash)))
            return false;
        if (host)
            *host = last.left(hostDash);
        last = last.mid(hostDash + 1);
    }
    return isAlphanumeric(rest.left(dash)) && number && *chain > 0 && isAlphanumeric(last);
}

QString deferredCopyCommandLine(int copyCount, bool otherErrors, bool record)
{
    // The system's "ping" is the interpreter's way to wait: three echo
    // requests take about two seconds, time for the program to end and
    // release its files. Every program is named by its full path, never
    // searched for: the current directory holds downloads. Delayed expansion
    // is switched off whatever the registry says, so a "!" in a path is an
    // ordinary character. A variable's value is expanded once and never read
    // again as syntax, and inside double quotes "&", "^" and the like are
    // plain text; Windows paths hold no double quote.
    const QString errorFile = QStringLiteral("\"%ORVANE_F%\"");
    const QString openErrorFile = QStringLiteral("start \"\" \"%ORVANE_X%\" ") + errorFile;
    // The steps, each run only when the one before succeeded ("&&"). The
    // interpreter strips the first and the last double quote of a command
    // line that begins with one: the first step is in parentheses.
    QStringList steps{QStringLiteral("cmd /v:off /c (\"%ORVANE_P%\" -n 3 localhost)")};
    // The temporary files, removed when a step fails (those already moved
    // into place no longer exist).
    QStringList temporaries;
    // The error file holds the report of the first copy not made: once a
    // copy is made, the next one's report takes its place; after the last,
    // the other errors, or nothing.
    for (int n = 1; n <= copyCount; ++n) {
        steps << QStringLiteral("copy /Y ") + reference("S", n) + QLatin1Char(' ') +
                     reference("N", n)
              << QStringLiteral("move /Y ") + reference("N", n) + QLatin1Char(' ') +
                     reference("T", n);
        if (n < copyCount)
            steps << QStringLiteral("move /Y ") + report(n + 1) + QLatin1Char(' ') + errorFile;
        else if (otherErrors)
            steps << QStringLiteral("move /Y ") + report(0) + QLatin1Char(' ') + errorFile;
        else
            steps << QStringLiteral("del ") + errorFile;
        temporaries << reference("N", n);
    }
    // The group ends with a step that always succeeds.
    const QString removeRecord = QStringLiteral("del /f /q \"%ORVANE_J%\"");
    if (record)
        steps << QLatin1Char('(') + removeRecord + QStringLiteral(" & cd .)");
    if (otherErrors)
        steps << openErrorFile;
    // The restarted program resolves a relative working directory against
    // its current directory: it starts where the program was started.
    // "start" hands the program over and returns: the interpreter does not
    // wait for it, so its end, whatever its exit code, is no failure of the
    // chain.
    steps << QStringLiteral("cd /d \"%ORVANE_D%\"") << QStringLiteral("start \"\" \"%ORVANE_R%\"");
    QString commandLine = steps.join(QLatin1String(" && "));
    // "&&" binds tighter than "||": whichever step failed, the clean-up runs,
    // each of its steps whatever the one before did ("&"); the reports still
    // there are this chain's only (the names carry its number).
    if (copyCount > 0)
        commandLine += QStringLiteral(" || (del /f /q ") + temporaries.join(QLatin1Char(' ')) +
                       QLatin1Char(' ') + report(-1) +
                       (record ? QStringLiteral(" & ") + removeRecord : QString()) +
                       QStringLiteral(" & if exist ") + errorFile + QLatin1Char(' ') +
                       openErrorFile + QLatin1Char(')');
    return commandLine;
}

VariableList deferredCopyVariables(const DeferredCopy &copy, qint64 chainNumber,
                                   const QString &systemDirectory, const QString &windowsDirectory,
                                   const QString &host)
{
    const QString chain = chainPart(chainNumber, host);
    VariableList variables;
    int n = 0;
    for (const auto &file : copy.copies) {
        const QString number = QString::number(++n);
        variables.append({QStringLiteral("ORVANE_S") + number, file.source});
        variables.append(
            {QStringLiteral("ORVANE_N") + number, temporaryPath(file.target, chain, n)});
        variables.append({QStringLiteral("ORVANE_T") + number, file.target});
    }
    variables.append({QStringLiteral("ORVANE_D"), copy.startDirectory});
    if (!copy.recordFile.isEmpty())
        variables.append({QStringLiteral("ORVANE_J"),
                          QString(copy.recordFile).replace(QLatin1Char('/'), QLatin1Char('\\'))});
    variables.append({QStringLiteral("ORVANE_R"), copy.restartProgram});
    variables.append({QStringLiteral("ORVANE_E"), reportPrefix(copy.errorFile, chain)});
    variables.append({QStringLiteral("ORVANE_F"),
                      QString(copy.errorFile).replace(QLatin1Char('/'), QLatin1Char('\\'))});
    variables.append({QStringLiteral("ORVANE_P"), inDirectory(systemDirectory, "ping.exe")});
    variables.append({QStringLiteral("ORVANE_X"), inDirectory(windowsDirectory, "notepad.exe")});
    return variables;
}

QString pathBeyondInterpreter(const DeferredCopy &copy, qint64 chain)
{
    constexpr int maxPath = 260; // Windows' MAX_PATH, its NUL included
    // The reports' common beginning is followed by a report's number.
    const int reportNumber = QString::number(copy.copies.size()).size();
    for (const auto &variable : deferredCopyVariables(copy, chain, QString(), QString())) {
        const QChar kind = variable.first.at(7);
        const int units = variable.second.size() + (kind == QLatin1Char('E') ? reportNumber : 0);
        if (units > (kind == QLatin1Char('D') ? maxPath - 2 : maxPath - 1) ||
            variable.second.startsWith(QLatin1String("\\\\?\\")) ||
            variable.second.startsWith(QLatin1String("//?/")))
            return variable.second;
    }
    return QString();
}

bool isDeferredCopyVariable(const QString &name)
{
    static const QRegularExpression variable(
        QStringLiteral("^ORVANE_(?:[SNT][1-9][0-9]*|[DJREFPX])$"),
        QRegularExpression::CaseInsensitiveOption);
    return variable.match(name).hasMatch();
}

QList<QPair<QString, QStringList>> deferredCopyReports(const DeferredCopy &copy, qint64 chain,
                                                       const QString &host)
{
    if (copy.copies.isEmpty() && copy.otherErrors.isEmpty())
        return {};
    const QString prefix = reportPrefix(copy.errorFile, chainPart(chain, host));
    // The error file itself holds the report of the first copy, so that it
    // tells the truth also when the interpreter never runs.
    QList<QPair<QString, QStringList>> reports{
        {copy.errorFile, copy.otherErrors + notCopied(copy.copies, 0)}};
    for (int n = 2; n <= copy.copies.size(); ++n)
        reports.append(
            {prefix + QString::number(n), copy.otherErrors + notCopied(copy.copies, n - 1)});
    if (!copy.otherErrors.isEmpty() && !copy.copies.isEmpty())
        reports.append({prefix + QLatin1Char('0'), copy.otherErrors});
    return reports;
}

QStringList deferredCopyShellArguments(const DeferredCopy &copy, const QString &editor)
{
    // deferredcopy.sh says what the arguments are.
    static const QString script = QString::fromUtf8(deferredCopyScript);
    QStringList arguments{QStringLiteral("-c"),
                          script,
                          QLatin1String(deferredCopyMark),
                          copy.restartProgram,
                          copy.startDirectory,
                          copy.errorFile,
                          copy.otherErrors.join(QLatin1String("\r\n")),
                          editor,
                          copy.recordFile};
    const QStringList messages = notCopied(copy.copies, 0);
    for (int i = 0; i < copy.copies.size(); ++i)
        arguments << copy.copies.at(i).source << copy.copies.at(i).target << messages.at(i);
    return arguments;
}

} // namespace Update
