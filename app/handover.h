#ifndef ORVANE_APP_HANDOVER_H
#define ORVANE_APP_HANDOVER_H

#include "installation/exitcode.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The normal mode: start the installer Hultrex that lies beside the program.
namespace HandOver {

// What the installer receives: the program's arguments without its own name.
QStringList installerArguments(const QStringList &applicationArguments);

// Starts the installer detached, in the current (working) directory, with
// these arguments (as Platform::programArguments gives them, so each goes on
// unchanged) and the given environment. Returns Ok, or, when it cannot be
// started, CannotStartInstaller, with the reason in the log.
Installation::ExitCode run(const QStringList &arguments, const QProcessEnvironment &environment);

} // namespace HandOver

#endif // ORVANE_APP_HANDOVER_H
