#ifndef ORVANE_DEFERREDCOPY_H
#define ORVANE_DEFERREDCOPY_H

#include <QList>
#include <QPair>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The deferred copy: files the self-update could not replace while the
// program ran are copied by a hidden command interpreter after the program
// has ended, and the program is then started again. What the interpreter is
// told is built here, for both systems, so that either can be checked
// anywhere.
//
// Every new version is first copied under a temporary name beside its target
// and then renamed over it, so the target holds either its old or its whole
// new content. A failed step removes the temporary file and ends the chain:
// the later copies and the restart do not happen.
namespace Update {

// Files still to be copied, in order: (target path, source path).
using CopyList = QList<QPair<QString, QString>>;

// Environment variables, in order: (name, value).
using VariableList = QList<QPair<QString, QString>>;

// The command line of the Windows command interpreter for this many copies:
// a wait of about two seconds, then per file "copy /Y" to the temporary name
// and "move /Y" over the target, then a change to the start directory and the
// restart, each step only when the one before succeeded; when one fails, the
// temporary files are deleted. No path is part of the line: it names them
// only through the variables of deferredCopyVariables(), whose values the
// interpreter does not read as syntax.
QString deferredCopyCommandLine(int copyCount);

// The variables that deferredCopyCommandLine() refers to, holding the paths
// exactly as given: ORVANE_S<n>, ORVANE_N<n> and ORVANE_T<n> (source,
// temporary name beside the target, target) per copy, counting from 1, then
// ORVANE_D (start directory) and ORVANE_R (program to restart). The
// temporary names carry chain, a number of this chain's own (the process
// id), so that two chains in one directory never share one.
VariableList deferredCopyVariables(const CopyList &copies, const QString &restartProgram,
                                   const QString &startDirectory, qint64 chain);

// The same for /bin/sh: its arguments, "-c" and a fixed script first. The
// paths are positional parameters and never part of the script text, so no
// file name can bring in shell syntax. A target whose directory takes no new
// name (a writable file in a read-only directory) is overwritten in place,
// the only way it can be updated at all.
QStringList deferredCopyShellArguments(const CopyList &copies, const QString &restartProgram,
                                       const QString &startDirectory);

// True when the command line, with its terminating NUL, fits the buffer the
// Windows interpreter is started from.
bool fitsCommandBuffer(const QString &commandLine);

// Starts the hidden command interpreter detached, in the current directory:
// after about two seconds it copies every source over its target and then
// starts restartProgram without arguments in startDirectory. Returns whether
// it was started.
bool startDeferredCopy(const CopyList &copies, const QString &restartProgram,
                       const QString &startDirectory, const QProcessEnvironment &environment);

} // namespace Update

#endif // ORVANE_DEFERREDCOPY_H
