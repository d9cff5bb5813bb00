#ifndef ORVANE_APP_STARTUP_H
#define ORVANE_APP_STARTUP_H

#include "installation/exitcode.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

#include <optional>

// The start-up sequence that every Orvane program runs before it does its
// real work: PATH extension, working directory resolved, created and entered,
// child environment captured. The pure pieces are exposed for the tests.
namespace Startup {

// The working directory for an application directory and the content of its
// "workpath" file (std::nullopt when there is no readable file).
QString resolveWorkDirPath(const QString &appDir, const std::optional<QByteArray> &workpath);

// Whether a value of this many units may be given to a variable whose value
// may hold at most largest units (-1: no limit).
bool fitsVariable(int units, int largest);

// True when a program argument selects the self-update mode ("-r").
bool isUpdateOption(const QByteArray &argument);

// Content of appDir + "/workpath", or std::nullopt when it cannot be read,
// is no regular file or is far too large for one path.
std::optional<QByteArray> readWorkpathFile(const QString &appDir);

struct Context
{
    QString startDirPath; // the current directory the process was started in
    QString workDirPath;
    QProcessEnvironment childEnvironment;
};

// Runs PATH extension, working-directory resolution, creation and entry, and
// captures the child environment. The application object must exist. Returns
// Ok and fills context, or logs the failure and returns its exit code.
Installation::ExitCode prepareProcess(Context *context);

} // namespace Startup

#endif // ORVANE_APP_STARTUP_H
