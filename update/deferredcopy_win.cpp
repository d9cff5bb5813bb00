#include "update/deferredcopy.h"

#include "installation/installation.h"
#include "platform/hiddenprocess.h"
#include "platform/process.h"
#include "update/errorreport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

namespace Update {

// The hidden cmd.exe, started through the Windows API.
bool startDeferredCopy(const DeferredCopy &copy, const QProcessEnvironment &environment)
{
    const qint64 chain = QCoreApplication::applicationPid();
    const QString commandLine = deferredCopyCommandLine(
        copy.copies.size(), !copy.otherErrors.isEmpty(), !copy.recordFile.isEmpty());
    if (!Platform::fitsCommandBuffer(static_cast<std::size_t>(commandLine.size())))
        return false;
    // A chain that could not copy the file is no use: the pass reports it
    // now instead.
    const QString tooLong = pathBeyondInterpreter(copy, chain);
    if (!tooLong.isEmpty()) {
        Installation::logError("Error. Path too long for the deferred copy ", tooLong);
        return false;
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
            return false;
        }
    }
    // The interpreter gets the children's environment with the paths added.
    QProcessEnvironment interpreterEnvironment = environment;
    for (const auto &variable : deferredCopyVariables(copy, chain, Platform::systemDirectory(),
                                                      Platform::windowsDirectory(), host))
        interpreterEnvironment.insert(variable.first, variable.second);
    if (Platform::startHiddenCommandLine(commandLine, interpreterEnvironment))
        return true;
    removeReports();
    return false;
}

bool deferredCopyRuns(qint64 chain)
{
    // The temporary files and reports carry the id of the program that
    // started the interpreter, whose child it is.
    return Platform::startedProcessRuns(chain);
}

bool recordedCopyRuns(const QString &, const QString &host, qint64 writer)
{
    // The interpreter holds no lock the program could look at; it is the
    // child of the program that wrote the record, which Windows remembers.
    // Another machine's processes cannot be looked at: its copy counts as
    // running.
    return host != QSysInfo::machineHostName() || deferredCopyRuns(writer);
}

bool deferredCopyMayUse(const QString &, qint64 chain, const QString &host)
{
    // Another machine's process ids mean nothing here.
    return (!host.isEmpty() && host != deferredCopyHost()) ||
           (chain != 0 && deferredCopyRuns(chain));
}

void removeAbandonedReports(const QString &workDir)
{
    static const QRegularExpression reportName(
        QStringLiteral("^\\.Orvane-report-(\\d+)-(?:([0-9a-f]{12})-)?\\d+$"));
    QDir dir(workDir);
    const QStringList entries =
        dir.entryList({QStringLiteral(".Orvane-report-*")}, QDir::Files | QDir::Hidden);
    for (const QString &entry : entries) {
        const QRegularExpressionMatch match = reportName.match(entry);
        bool number = false;
        const qint64 chain = match.captured(1).toLongLong(&number);
        if (match.hasMatch() && number && !deferredCopyMayUse(entry, chain, match.captured(2)))
            dir.remove(entry);
    }
}

void dropDeferredCopyVariables(QProcessEnvironment *environment)
{
    const QStringList names = environment->keys();
    for (const QString &name : names) {
        if (isDeferredCopyVariable(name))
            environment->remove(name);
    }
}

} // namespace Update
