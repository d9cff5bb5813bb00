#ifndef ORVANE_INSTALLATION_INSTALLATION_H
#define ORVANE_INSTALLATION_INSTALLATION_H

#include "platform/systemerror.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Facts of the installation that its programs share: where the installer
// lies and how its search-path lists are extended.
namespace Installation {

// Full path of the installer Hultrex in the given application directory.
QString installerPath(const QString &appDir);

// Starts the installer that lies beside the running program, detached, in
// the current directory, with these arguments, each unchanged, and this
// environment. When it cannot be started (missing, not executable, an
// environment too large to start a program with), logs "Error. Can't start
// installer PATH: REASON" and returns the error.
Platform::Failure startInstaller(const QStringList &arguments,
                                 const QProcessEnvironment &environment);

// Appends entry to a search-path list such as PATH, unless the list already
// ends with it: a program restarted by the self-update inherits the list it
// extended. No separator is put in front of the first entry: an empty entry
// would mean "the current directory". For lists held as bytes (Linux) and as
// text (Windows).
QByteArray appendListEntry(const QByteArray &list, const QByteArray &entry, char separator);
QString appendListEntry(const QString &list, const QString &entry, char separator);

// Writes one diagnostic line to the log: a fixed English text that ends in a
// blank, directly followed by the detail, handed over as one string.
void logError(const char *text, const QString &detail);

} // namespace Installation

#endif // ORVANE_INSTALLATION_INSTALLATION_H
