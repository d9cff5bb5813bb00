#ifndef ORVANE_UPDATE_UPDATEMODE_H
#define ORVANE_UPDATE_UPDATEMODE_H

#include "installation/exitcode.h"
#include "update/replacement.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The self-update mode, chosen by "-r": the names that follow it are
// installation files whose new versions wait in the working directory.
namespace Update {

// Ends the mode after the replacement pass, in this order: files still
// pending go to the hidden command interpreter, which copies them and
// restarts the program; else a pass without errors restarts the program at
// once; else the errors go to the error file in workDir, which is opened in
// the editor. A restart that cannot be started is such an error: "Success!"
// is logged only once it has started. The restarted program starts in
// startDirectory, the directory the program was started in, so that it finds
// the same working directory, or, when that is gone, in the program's own.
// Returns the program's exit code: Ok, CannotOpenErrorFile or
// CannotWriteErrorFile.
Installation::ExitCode finish(const PassResult &pass, const QString &restartProgram,
                              const QString &startDirectory, const QProcessEnvironment &environment,
                              const QString &workDir);

// Runs the mode on these installation files, with the environment the
// children get, and returns the program's exit code. The working directory
// is the current directory; startDirectory is the one the program was
// started in.
Installation::ExitCode run(const QStringList &names, const QString &startDirectory,
                           const QProcessEnvironment &environment);

} // namespace Update

#endif // ORVANE_UPDATE_UPDATEMODE_H
