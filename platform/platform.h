#ifndef ORVANE_PLATFORM_H
#define ORVANE_PLATFORM_H

#include "platform/filereplace.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What differs between Windows and the Unix-like systems lives behind this
// header: one implementation in platform_win.cpp, one in platform_unix.cpp.
// What is the same everywhere is in platform.cpp.
namespace Platform {

// Separator of search-path lists such as PATH and LD_LIBRARY_PATH.
char pathListSeparator();

// Suffix of executable file names (".exe" on Windows, empty elsewhere).
QString executableSuffix();

// Name of a Qt platform plugin that needs no display, to be used when the
// process has none; empty where a display is always there.
QByteArray headlessPlatformWhenNoDisplay();

// Starts program with exactly these arguments, this environment and this
// current directory (an empty one means the caller's), detached: it inherits
// the standard channels and lives on after this process has ended.
bool startDetached(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment,
                   const QString &workingDirectory = QString());

#ifdef Q_OS_WIN
// Starts a command line without a window, detached, in the current directory
// and with this process's environment. Returns whether it was started.
bool startHiddenCommandLine(const QString &commandLine);
#endif

// Gives the file at from the name to in one step, replacing the file that
// had it, so that to names the complete old or the complete new file at every
// instant. On failure *reason gets the system's text and the old file is
// left as it was.
Replacement replaceFile(const QString &from, const QString &to, QString *reason);

// Writes the content of the open file with this descriptor (QFile::handle())
// through to the disk. On failure *reason gets the system's text.
bool flushToDisk(int descriptor, QString *reason);

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
