#ifndef ORVANE_PLATFORM_ENVIRONMENT_H
#define ORVANE_PLATFORM_ENVIRONMENT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The process environment and the program's arguments, as each system keeps
// them: environment_win.cpp, environment_linux.cpp; what is the same
// everywhere is in environment.cpp.
namespace Platform {

// Makes every name of the file system, every argument and every environment
// value pass through Qt's texts and back byte for byte, also where its bytes
// are no valid text (Linux, where a name is bytes: Qt 5 would turn each such
// byte into U+FFFD). Such a byte becomes the lone surrogate U+DC00 + byte,
// as in decodeArgument. Called before the application object is built.
// Qt 6 has no such hook: there such names stay out of reach.
void keepNameBytes();

// Lets a write beyond the file-size limit (ulimit -f) fail with "File too
// large", reported like a full disk, instead of ending the process
// (SIGXFSZ). The programs this one starts get the system's default again.
void failOversizedWrites();

// Keeps the libraries this process loads by name to the system directory and
// its own (Windows: SetDefaultDllDirectories), so that one lying in the
// current directory, where downloads are, or on PATH is never loaded. Called
// first thing in a program's entry; a no-op where the system does not
// search the current directory.
void restrictLibrarySearch();

// Separator of search-path lists such as PATH and LD_LIBRARY_PATH.
char pathListSeparator();

// The longest value a variable may be given, in the units of
// EnvironmentValue: 32,767 UTF-16 units on Windows, which refuses a longer
// one; -1 where the system sets no such limit of its own.
int largestEnvironmentValue();

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

} // namespace Platform

#endif // ORVANE_PLATFORM_ENVIRONMENT_H
