#include "update/updatemode.h"

#include "platform/platform.h"
#include "update/errorreport.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

namespace Update {

int finish(const PassResult &pass, const QString &restartProgram,
           const QProcessEnvironment &environment, const QString &workDir)
{
    if (!pass.pending.isEmpty() &&
        Platform::startDeferredCopy(pass.pending, restartProgram, environment)) {
        // No error file is written now, but a missing new version must not
        // go unnoticed: the log keeps every message.
        for (const QString &message : pass.errors)
            qDebug() << message;
        return 0;
    }

    if (pass.errors.isEmpty()) {
        if (!Platform::startDetached(restartProgram, QStringList(), environment))
            qDebug() << QString(QStringLiteral("Error. Can't restart ") + restartProgram);
        qDebug() << "Success!";
        return 0;
    }

    const QString path = errorFilePath(workDir);
    const int written = writeErrorFile(path, pass.errors);
    if (written != 0)
        return written;
    // Without a desktop there is no editor; the log then tells where to look.
    if (!Platform::startEditor(path, environment))
        qDebug() << QString(QStringLiteral("Error. Can't open err file in editor ") + path);
    return 0;
}

int run(int argc, char **argv, const Startup::Context &context)
{
    // The program is restarted under its absolute path: argv[0] may be
    // relative to the directory it was started in, which is no longer the
    // current one. Taken before the pass, which may replace the program's own
    // file.
    const QString restartProgram = QCoreApplication::applicationFilePath();
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString workDir = QDir::currentPath();

    QStringList names;
    for (int i = 2; i < argc; ++i)
        names.append(QString::fromLocal8Bit(argv[i]));

    const PassResult pass = replaceFiles(names, appDir, workDir);
    return finish(pass, restartProgram, context.childEnvironment, workDir);
}

} // namespace Update
