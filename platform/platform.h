#ifndef ORVANE_PLATFORM_H
#define ORVANE_PLATFORM_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What differs between Windows and Linux lives behind this header: one
// implementation in platform_win.cpp, one in platform_linux.cpp (it uses
// calls only Linux has: copy_file_range, syncfs, sync_file_range, execvpe,
// pipe2). What is the same everywhere is in platform.cpp.
namespace Platform {

// Separator of search-path lists such as PATH and LD_LIBRARY_PATH.
char pathListSeparator();

// An environment variable of this process in the form the system keeps it,
// so that reading and writing it back loses nothing: UTF-16 text on
// Windows, bytes elsewhere. Unset and empty read the same.
#ifdef Q_OS_WIN
using EnvironmentValue = QString;
#else
using EnvironmentValue = QByteArray;
#endif
EnvironmentValue environmentValue(const char *name);
void setEnvironmentValue(const char *name, const EnvironmentValue &value);
// A text, such as a path, in that form.
EnvironmentValue toEnvironmentValue(const QString &text);

// Whether c separates directories in a path as the system reads it: "/"
// everywhere, on Windows "\\" too.
bool isPathSeparator(QChar c);

// Whether a running program holds its own executable so that no other file
// can take its name while it runs (Windows).
bool runningProgramIsHeld();

// Suffix of executable file names (".exe" on Windows, empty elsewhere).
QString executableSuffix();

// The Qt platform plugin that needs no display.
inline const char *headlessPlatform()
{
    return "minimal";
}

// The Qt platform plugins for a process whose user has chosen none, in the
// form Qt reads from QT_QPA_PLATFORM: names tried in order, separated by ';'.
// Empty where Qt's default always works. A process that shows no window needs
// no display; one that may show a window tries the display's plugins first.
QByteArray platformPlugins(bool showsWindows);

// The program's arguments once Qt has taken its own options out of argv, in
// a form that startDetached hands on unchanged: on Windows as the wide
// command line holds them; elsewhere decoded from argv's bytes, where an
// argument that is not text in the locale's encoding keeps each of its
// non-ASCII bytes as an escape (decodeArgument).
QStringList programArguments(int argc, char **argv);

// An argument's bytes as text. Bytes that do not decode in the locale's
// encoding would be changed by the way back, so such an argument keeps every
// byte above 0x7F as the lone surrogate U+DC00 + byte instead.
QString decodeArgument(const QByteArray &bytes);

// The bytes of an argument: the inverse of decodeArgument.
QByteArray encodeArgument(const QString &text);

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

// How an attempt to give a file another file's name turned out.
enum class Replacement {
    Done,
    // The target is held by someone (a running program, an open handle, a
    // lock): this usually goes away, so the attempt is worth repeating.
    Busy,
    // Waiting does not help: no permission, a read-only or full file system,
    // a directory in the way.
    Refused,
};

// Gives the file at from the name to in one step, replacing the file that
// had it, so that to names the complete old or the complete new file at every
// instant. On failure *reason gets the system's text and the old file is
// left as it was.
Replacement replaceFile(const QString &from, const QString &to, QString *reason);

// How a copy inside the kernel went.
enum class KernelCopy { Done, Unsupported, Failed };

// Copies the whole content of the open file fromDescriptor, from its start,
// into the open, empty file toDescriptor without passing it through this
// process, where the system can (Linux: copy_file_range). Unsupported when
// it cannot and nothing was copied; Failed with the system's text in
// *reason when the copy failed (a full disk, say).
KernelCopy copyContent(int fromDescriptor, int toDescriptor, QString *reason);

// Writes the content of these files, written and closed, through to the
// disk, so that none can take another file's name before it is there. Where
// the system can, one flush of each file system serves all its files (Linux:
// syncfs, one journal commit rather than one per file); elsewhere each file
// is flushed (Windows: FlushFileBuffers). On failure *reason gets the
// system's text.
bool flushFiles(const QStringList &paths, QString *reason);

// Makes the names that directory gained survive a power cut; a no-op where
// the file system does that with the rename itself. On failure *reason gets
// the system's text.
bool syncDirectory(const QString &path, QString *reason);

// The system's text for the error of the last failed system call, for the
// failures Qt leaves without a text.
QString lastErrorText();

// The system's text for an operation that expects a file and meets a
// directory.
QString isDirectoryText();

// Opens a text file in the system's editor, detached. Returns whether the
// editor was started.
bool startEditor(const QString &filePath, const QProcessEnvironment &environment);

} // namespace Platform

#endif // ORVANE_PLATFORM_H
