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
    if (!pass.recorded)
        return;
    if (const Platform::Failure failed = removeRecord(pass.workDir))
        Installation::logError("Error. Can't remove the update's record ",
                               recordFilePath(pass.workDir) + QStringLiteral(": ") + failed->text);
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
    record.otherErrors = errorMessages(pass.otherErrors);
    if (const Platform::Failure failed = writeRecord(pass.workDir, record))
        Installation::logError("Error. Can't write the update's record ",
                               recordFilePath(pass.workDir) + QStringLiteral(": ") + failed->text);
}

// Starts the program again in the directory it was started in, so that it
// finds the same working directory; should that be gone meanwhile (a
// download directory cleaned up), in the installation, where it lies. On
// failure returns the failure for the user, and the log has the reason.
std::optional<UpdateError> restart(const QString &program, const QString &startDirectory,
                                   const QProcessEnvironment &environment)
{
    const QString directory =
        QFileInfo(startDirectory).isDir() ? startDirectory : QFileInfo(program).absolutePath();
    const Platform::Failure failed =
        Platform::startDetached(program, QStringList(), environment, directory);
    if (!failed)
        return std::nullopt;
    Installation::logError("Error. Can't restart ", program + QLatin1String(": ") + failed->text);
    return cannotRestart(program, failed->text);
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
    if (!pass.pending.isEmpty()) {
        const Platform::Failure failed = startDeferredCopy(
            {pass.pending, errorMessages(pass.otherErrors), path, restartProgram, startDirectory,
             pass.recorded ? recordFilePath(pass.workDir) : QString()},
            environment);
        if (!failed) {
            for (const QString &message : errorMessages(pass.errors))
                qDebug() << message;
            return Installation::Ok;
        }
        Installation::logError("Error. Can't start the deferred copy: ", failed->text);
    }

    QList<UpdateError> errors = pass.errors;
    // A restart that fails is a failure of the update: it is reported like
    // the others.
    if (errors.isEmpty()) {
        forgetRecord(pass);
        const std::optional<UpdateError> failure =
            restart(restartProgram, startDirectory, environment);
        if (!failure) {
            qDebug() << "Success!";
            return Installation::Ok;
        }
        errors.append(*failure);
    }

    const Installation::ExitCode written = writeErrorFile(path, errorMessages(errors));
    forgetRecord(pass);
    if (written != Installation::Ok)
        return written;
    // Without a desktop there is no editor; the log then tells where to look.
    if (Platform::startEditor(path, environment))
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
