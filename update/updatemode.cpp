#include "update/updatemode.h"

#include "installation/installation.h"

#include "platform/process.h"
#include "update/deferredcopy.h"
#include "update/errorreport.h"
#include "update/updaterecord.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

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
    if (!pass.pending.isEmpty() &&
        startDeferredCopy({pass.pending, pass.otherErrors, path, restartProgram, startDirectory,
                           pass.recorded ? recordFilePath(pass.workDir) : QString()},
                          environment)) {
        for (const QString &message : pass.errors)
            qDebug() << message;
        return Installation::Ok;
    }

    if (pass.errors.isEmpty()) {
        forgetRecord(pass);
        if (!Platform::startDetached(restartProgram, QStringList(), environment, startDirectory))
            Installation::logError("Error. Can't restart ", restartProgram);
        qDebug() << "Success!";
        return Installation::Ok;
    }

    const Installation::ExitCode written = writeErrorFile(path, pass.errors);
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
