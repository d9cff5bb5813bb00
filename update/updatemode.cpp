#include "update/updatemode.h"

#include "installation/installation.h"

#include "platform/process.h"
#include "update/deferredcopy.h"
#include "update/errorreport.h"
#include "update/updaterecord.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace Update {

namespace {

// The outcome is known: the next start has nothing to finish.
void forgetRecord(const PassResult &pass)
{
    QString reason;
    if (pass.recorded && !removeRecord(pass.workDir, &reason))
        Installation::logError("Error. Can't remove the update's record ",
                               recordFilePath(pass.workDir) + QStringLiteral(": ") + reason);
}

// The record learns the failures that the deferred copy reports, so that a
// start that finishes the update for a copy that never ran reports them too.
// Should that fail, the record as it is still finishes the copies.
void handOverRecord(const PassResult &pass)
{
    if (!pass.recorded)
        return;
    UpdateRecord record = pass.record;
    record.handedOver = true;
    record.otherErrors = pass.otherErrors;
    QString reason;
    if (!writeRecord(pass.workDir, record, &reason))
        Installation::logError("Error. Can't write the update's record ",
                               recordFilePath(pass.workDir) + QStringLiteral(": ") + reason);
}

// Starts the program again in the directory it was started in, so that it
// finds the same working directory; should that be gone meanwhile (a
// download folder cleaned up), in the installation, where it lies. On failure
// returns the message for the user, and the log has the reason.
QString restart(const QString &program, const QString &startDirectory,
                const QProcessEnvironment &environment)
{
    const QString directory =
        QFileInfo(startDirectory).isDir() ? startDirectory : QFileInfo(program).absolutePath();
    QString reason;
    if (Platform::startDetached(program, QStringList(), environment, directory, &reason))
        return QString();
    Installation::logError("Error. Can't restart ", program + QLatin1String(": ") + reason);
    return cannotRestartMessage(program, reason);
}

} // namespace

Installation::ExitCode finish(const PassResult &pass, const QString &restartProgram,
                              const QString &startDirectory, const QProcessEnvironment &environment,
                              const QString &workDir)
{
    // What went wrong beside the messages for the user: a lock that could
    // not be made, a directory that could not be flushed.
    for (const QString &line : pass.diagnostics)
        qDebug() << line;
    const QString path = errorFilePath(workDir);
    // The interpreter reports the other errors once it has run, and its own
    // failures; the log keeps every message now.
    if (!pass.pending.isEmpty())
        handOverRecord(pass);
    if (!pass.pending.isEmpty() &&
        startDeferredCopy({pass.pending, pass.otherErrors, path, restartProgram, startDirectory,
                           pass.recorded ? recordFilePath(pass.workDir) : QString()},
                          environment)) {
        for (const QString &message : pass.errors)
            qDebug() << message;
        return Installation::Ok;
    }

    QStringList errors = pass.errors;
    // A restart that fails is a failure of the update: it is reported like
    // the others.
    if (errors.isEmpty()) {
        forgetRecord(pass);
        const QString failure = restart(restartProgram, startDirectory, environment);
        if (failure.isEmpty()) {
            qDebug() << "Success!";
            return Installation::Ok;
        }
        errors.append(failure);
    }

    const Installation::ExitCode written = writeErrorFile(path, errors);
    forgetRecord(pass);
    if (written != Installation::Ok)
        return written;
    // Without a desktop there is no editor; the log then tells where to look.
    if (!Platform::startEditor(path, environment))
        Installation::logError("Error. Can't open err file in editor ", path);
    return Installation::Ok;
}

Installation::ExitCode run(const QStringList &names, const QString &startDirectory,
                           const QProcessEnvironment &environment)
{
    // The program is restarted under its absolute path: argv[0] may be
    // relative to the directory it was started in, which is no longer the
    // current one. Taken before the pass, which may replace the program's own
    // file.
    const QString restartProgram = QCoreApplication::applicationFilePath();
    const QString workDir = QDir::currentPath();
    const PassResult pass = replaceFiles(names, QCoreApplication::applicationDirPath(), workDir);
    return finish(pass, restartProgram, startDirectory, environment, workDir);
}

} // namespace Update
