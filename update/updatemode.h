#ifndef ORVANE_UPDATEMODE_H
#define ORVANE_UPDATEMODE_H

#include "app/startup.h"
#include "update/replacement.h"

#include <QProcessEnvironment>
#include <QString>

// The self-update mode, chosen by "-r": argv[2..argc-1] name installation
// files whose new versions wait in the working directory.
namespace Update {

// Ends the mode after the replacement pass, in this order: files still
// pending go to the hidden command interpreter, which copies them and
// restarts the program; else a pass without errors restarts the program at
// once; else the errors go to the error file in workDir, which is opened in
// the editor. Returns the program's exit code: 0, CannotOpenErrorFile or
// CannotWriteErrorFile.
int finish(const PassResult &pass, const QString &restartProgram,
           const QProcessEnvironment &environment, const QString &workDir);

// Runs the mode and returns the program's exit code.
int run(int argc, char **argv, const Startup::Context &context);

} // namespace Update

#endif // ORVANE_UPDATEMODE_H
