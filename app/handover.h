#ifndef ORVANE_HANDOVER_H
#define ORVANE_HANDOVER_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The normal mode: start the installer Hultrex that lies beside the program.
namespace HandOver {

// Full path of the installer in the given application directory.
QString installerPath(const QString &appDir);

// What the installer receives: the program's arguments without its own name.
QStringList installerArguments(const QStringList &applicationArguments);

// Starts the installer detached, in the current (working) directory, with the
// given environment. Whether it started does not change the outcome: returns 0.
int run(const QProcessEnvironment &environment);

} // namespace HandOver

#endif // ORVANE_HANDOVER_H
