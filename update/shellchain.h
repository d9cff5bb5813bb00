#ifndef ORVANE_UPDATE_SHELLCHAIN_H
#define ORVANE_UPDATE_SHELLCHAIN_H

#include "update/deferredcopy.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The deferred copy on Linux: /bin/sh runs the fixed script shellchain.sh,
// which gets every path as an argument.
namespace Update {

// The arguments of /bin/sh for the copy, "-c" and the fixed script of
// shellchain.sh first. The paths and messages are positional parameters
// and never part of the script text, so no file name can bring in shell
// syntax. The script finds its tools on the system's standard path, whatever
// PATH holds; the restarted program and the editor get the environment
// unchanged. editor opens the error file: an absolute path, or empty for the
// system's own opener.
QStringList deferredCopyShellArguments(const DeferredCopy &copy, const QString &editor = QString());

// The argument that names the Linux chain's shell among the processes
// (its $0).
constexpr char deferredCopyMark[] = "orvane-update";

// Starts the shell (startDeferredCopy()). With a record, the shell gets an
// opening of the record's file that holds its lock (Platform::lockFile) and
// keeps it until it has removed the record.
Platform::Failure startShellChain(const DeferredCopy &copy, const QProcessEnvironment &environment);

// The chain's side of deferredCopyRuns(), recordedCopyRuns() and
// deferredCopyMayUse(): the shell names itself by its $0, so a process id
// used again by another program does not count; it holds the lock of the
// record and of its temporary file for as long as it uses them, which tells
// every machine that shares the directory (a chain of an earlier version,
// which holds none, is known by its process here).
bool shellChainRuns(qint64 chain);
bool shellChainOfRecordRuns(const QString &recordPath);
bool shellChainMayUse(const QString &path, qint64 chain);

} // namespace Update

#endif // ORVANE_UPDATE_SHELLCHAIN_H
