#ifndef ORVANE_PLATFORM_PROCESS_H
#define ORVANE_PLATFORM_PROCESS_H

#include "platform/systemerror.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Starting the programs that outlive this one: process_win.cpp,
// process_linux.cpp; what is the same everywhere is in process.cpp.
namespace Platform {

// Suffix of executable file names (".exe" on Windows, empty elsewhere).
QString executableSuffix();

// Starts program, an absolute path (never searched for: the current
// directory holds downloads), with exactly these arguments (escaped bytes
// included), this environment and this current directory (an empty one
// means the caller's), detached: it inherits the standard channels and
// lives on after this process has ended. Returns nothing once it runs, or
// why it could not be started (no such file, not executable, an environment
// too large for the system).
Failure startDetached(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &environment,
                      const QString &workingDirectory = QString());

// The environment as a Windows environment block: "NAME=VALUE" per
// variable, ordered by name without regard to case, each ended by a NUL, and
// one more NUL after the last (two for an empty environment).
QString environmentBlock(const QProcessEnvironment &environment);

// What runs a chain of commands after this program has ended: Windows' own
// command interpreter (startHiddenCommandLine()), or /bin/sh
// (startDetachedHandingOn()).
enum class Interpreter { WindowsCommand, Shell };
Interpreter systemInterpreter();

// Starts the system's command interpreter (cmd.exe of the system directory)
// with this command line without a window, detached, in the current
// directory and with this environment. Returns nothing once it runs, or why
// not; where the system has no such interpreter, that.
Failure startHiddenCommandLine(const QString &commandLine, const QProcessEnvironment &environment);

// The system directory and the Windows directory (GetSystemDirectoryW,
// GetWindowsDirectoryW), where the programs the update starts lie: never
// taken from a variable the user can change. Backslashes, no final one.
// Empty where the system has none.
QString systemDirectory();
QString windowsDirectory();

// Whether a process that the process with this id started still runs, even
// when that one has ended: Windows keeps the id of the process that started
// each one. True also when the system cannot tell, as Linux cannot, where
// an orphan is given a new parent. (An id the system has given again to a
// newer process may make it true for a while; never false for a process that
// runs.)
bool startedProcessRuns(qint64 starterId);

// The program of this name on the search path of environment, as an
// absolute path, or an empty text. Only absolute directories are searched:
// an empty or relative entry of PATH would mean the current directory, the
// working directory with its downloaded files. Windows: always empty, the
// system's own programs are named by its directories.
QString findProgram(const QString &name, const QProcessEnvironment &environment);

// The descriptor number at which a program that startDetachedHandingOn
// started finds the descriptor handed on to it.
constexpr int handedOnDescriptor = 9;

// As startDetached, in the current directory, and the program gets
// descriptor, open, as handedOnDescriptor (with what it holds, such as a
// lock on its file); no other descriptor of this process reaches it.
// Windows, where a program finds no descriptor by its number, refuses.
Failure startDetachedHandingOn(const QString &program, const QStringList &arguments,
                               const QProcessEnvironment &environment, int descriptor);

// Whether the process with this id runs and has argument among its
// arguments, so that a process id used again by another program does not
// count. Where that cannot be told (on Windows always), true.
bool processRunsWith(qint64 pid, const QByteArray &argument);

// Opens a text file in the system's editor, detached: on Windows the
// system's own notepad.exe, named by its full path, since a program of that
// name in the current directory, where downloads lie, would be found first;
// elsewhere the desktop's opener, xdg-open, from PATH's absolute
// directories. Returns nothing once the editor runs, or why not.
Failure startEditor(const QString &filePath, const QProcessEnvironment &environment);

} // namespace Platform

#endif // ORVANE_PLATFORM_PROCESS_H
