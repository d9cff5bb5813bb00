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
namespace Update {

// Files still to be copied, in order: (target path, source path).
using CopyList = QList<QPair<QString, QString>>;

// The command line of the Windows command interpreter: a wait of about two
// seconds, one "copy /Y" per file (source first), then the restart, each step
// only when the one before succeeded.
QString deferredCopyCommandLine(const CopyList &copies, const QString &restartProgram);

// The same for /bin/sh: its arguments, "-c" and a fixed script first. The
// paths are positional parameters and never part of the script text, so no
// file name can bring in shell syntax.
QStringList deferredCopyShellArguments(const CopyList &copies, const QString &restartProgram);

// True when the command line, with its terminating NUL, fits the buffer the
// Windows interpreter is started from.
bool fitsCommandBuffer(const QString &commandLine);

// Starts the hidden command interpreter detached, in the current directory:
// after about two seconds it copies every source over its target and then
// starts restartProgram without arguments. Returns whether it was started.
bool startDeferredCopy(const CopyList &copies, const QString &restartProgram,
                       const QProcessEnvironment &environment);

} // namespace Update

#endif // ORVANE_DEFERREDCOPY_H
