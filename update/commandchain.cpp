#include "update/commandchain.h"

#include "installation/installation.h"
#include "platform/process.h"
#include "update/errorreport.h"
#include "update/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

namespace Update {

namespace {

// The temporary name of the n-th copy: beside its target, so that the final
// rename stays within one directory (one file system), and named so that it
// is seen at once for what it is.
QString temporaryPath(const QString &target, const QString &chain, int n)
{
    return directoryPrefixOf(target) + QLatin1String(temporaryFilePrefix) + chain +
           QLatin1Char('-') + QString::number(n);
}

// The common beginning of the reports' paths: beside the error file.
QString reportPrefix(const QString &errorFile, const QString &chain)
{
    return directoryPrefixOf(errorFile) + QLatin1String(reportFilePrefix) + chain +
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

} // namespace

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
        {copy.errorFile, copy.otherErrors + notCopiedMessages(copy.copies, 0)}};
    for (int n = 2; n <= copy.copies.size(); ++n)
        reports.append({prefix + QString::number(n),
                        copy.otherErrors + notCopiedMessages(copy.copies, n - 1)});
    if (!copy.otherErrors.isEmpty() && !copy.copies.isEmpty())
        reports.append({prefix + QLatin1Char('0'), copy.otherErrors});
    return reports;
}

Platform::Failure startCommandChain(const DeferredCopy &copy,
                                    const QProcessEnvironment &environment)
{
    const qint64 chain = QCoreApplication::applicationPid();
    const QString commandLine = deferredCopyCommandLine(
        copy.copies.size(), !copy.otherErrors.isEmpty(), !copy.recordFile.isEmpty());
    // A chain that could not copy the file is no use: the pass reports it
    // now instead.
    const QString tooLong = pathBeyondInterpreter(copy, chain);
    if (!tooLong.isEmpty()) {
        Installation::logError("Error. Path too long for the deferred copy ", tooLong);
        return Platform::ownError(QStringLiteral("Path too long for the interpreter: ") + tooLong);
    }
    // Only this chain's reports may be shown: the first is the error file.
    QFile::remove(copy.errorFile);
    const QString host = deferredCopyHost();
    const auto reports = deferredCopyReports(copy, chain, host);
    const auto removeReports = [&reports] {
        for (const auto &report : reports)
            QFile::remove(report.first);
    };
    for (const auto &report : reports) {
        if (writeErrorFile(report.first, report.second) != Installation::Ok) {
            removeReports();
            return Platform::ownError(QStringLiteral("The reports cannot be written"));
        }
    }
    // The interpreter gets the children's environment with the paths added.
    QProcessEnvironment interpreterEnvironment = environment;
    for (const auto &variable : deferredCopyVariables(copy, chain, Platform::systemDirectory(),
                                                      Platform::windowsDirectory(), host))
        interpreterEnvironment.insert(variable.first, variable.second);
    Platform::Failure failed =
        Platform::startHiddenCommandLine(commandLine, interpreterEnvironment);
    if (failed)
        removeReports();
    return failed;
}

bool commandChainRuns(qint64 chain)
{
    // The temporary files and reports carry the id of the program that
    // started the interpreter, whose child it is.
    return Platform::startedProcessRuns(chain);
}

bool commandChainOfRecordRuns(const QString &host, qint64 writer)
{
    // The interpreter holds no lock the program could look at; it is the
    // child of the program that wrote the record, which Windows remembers.
    // Another machine's processes cannot be looked at: its copy counts as
    // running.
    return host != QSysInfo::machineHostName() || commandChainRuns(writer);
}

bool commandChainMayUse(qint64 chain, const QString &host)
{
    // Another machine's process ids mean nothing here.
    return (!host.isEmpty() && host != deferredCopyHost()) ||
           (chain != 0 && commandChainRuns(chain));
}

void removeAbandonedCommandChainReports(const QString &workDir)
{
    static const QRegularExpression reportName(
        QStringLiteral("^") + QRegularExpression::escape(QLatin1String(reportFilePrefix)) +
        QStringLiteral("(\\d+)-(?:([0-9a-f]{12})-)?\\d+$"));
    QDir dir(workDir);
    const QStringList entries = dir.entryList({QLatin1String(reportFilePrefix) + QLatin1Char('*')},
                                              QDir::Files | QDir::Hidden);
    for (const QString &entry : entries) {
        const QRegularExpressionMatch match = reportName.match(entry);
        bool number = false;
        const qint64 chain = match.captured(1).toLongLong(&number);
        if (match.hasMatch() && number && !commandChainMayUse(chain, match.captured(2)))
            dir.remove(entry);
    }
}

void dropCommandChainVariables(QProcessEnvironment *environment)
{
    const QStringList names = environment->keys();
    for (const QString &name : names) {
        if (isDeferredCopyVariable(name))
            environment->remove(name);
    }
}

} // namespace Update
