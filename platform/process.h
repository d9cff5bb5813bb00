#ifndef ORVANE_PLATFORM_PROCESS_H
#define ORVANE_PLATFORM_PROCESS_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Starting the programs that outlive this one: process_win.cpp,
// process_linux.cpp; what is the same everywhere is in process.cpp.
namespace Platform {

// Suffix of executable file names (".exe" on Windows, empty elsewhere).
QString executableSuffix();

// Starts program with exactly these arguments (escaped bytes included), this
// environment and this current directory (an empty one means the caller's),
// detached: it inherits the standard channels and lives on after this
// process has ended.
bool startDetached(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment,
                   const QString &workingDirectory = QString());

// The environment as a Windows environment block: "NAME=VALUE" per
// variable, ordered by name without regard to case, each ended by a NUL, and
// one more NUL after the last (two for an empty environment).
QString environmentBlock(const QProcessEnvironment &environment);

#ifdef Q_OS_WIN
// Starts a command line without a window, detached, in the current directory
// and with this environment. Returns whether it was started.
bool startHiddenCommandLine(const QString &commandLine, const QProcessEnvironment &environment);
#endif

// The program of this name on the search path of environment, as an
// absolute path, or an empty text. Only absolute directories are searched:
// an empty or relative entry of PATH would mean the current directory, the
// working directory with its downloaded files.
QString findProgram(const QString &name, const QProcessEnvironment &environment);

// Whether the process with this id runs and has argument among its
// arguments, so that a process id used again by another program does not
// count. Where that cannot be told, true.
bool processRunsWith(qint64 pid, const QByteArray &argument);

// Opens a text file in the system's editor, detached. Returns whether the
// editor was started.
bool startEditor(const QString &filePath, const QProcessEnvironment &environment);

} // namespace Platform

#endif // ORVANE_PLATFORM_PROCESS_H
