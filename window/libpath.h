#ifndef ORVANE_WINDOW_LIBPATH_H
#define ORVANE_WINDOW_LIBPATH_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The "libpath" settings file in the working directory: the user's list of
// client-library directories and whether the window is to be shown again.
//
//     (empty line)
//     path = /usr/local/lib
//     path = /opt/oracle/lib
//     show = 1
//
// Keys are case-insensitive, blanks or tabs may stand before the "=", white
// space around key and value does not count; "path" may occur any number of
// times, of several "show" lines the first counts, and only "show = 0" keeps
// the window hidden. Everything here is pure; the window reads and writes
// the file.
namespace LibPath {

// Name of the settings file inside the working directory.
QString fileName(const QString &workDirPath);

// The directory listed when the file names none.
QString defaultPath();

// Value of the first line that carries key, or an empty text when none does.
QString lookupValue(const QString &key, const QStringList &lines);

// Values of all lines that carry key, in line order.
QStringList lookupValues(const QString &key, const QStringList &lines);

// The file's text: the bytes before the first NUL byte, read as UTF-8 when
// they are valid UTF-8 (a leading byte order mark is dropped) and in the
// local 8-bit encoding otherwise, so hand-written files keep working.
QString decode(const QByteArray &content);

// The text's lines, split at line feeds; empty lines stay.
QStringList splitLines(const QString &text);

struct Settings
{
    QStringList paths;      // as stored, or the default directory when none is
    bool showWindow = true; // false only for "show = 0"
};

// What a file with this content says; no content means no file.
Settings read(const QByteArray &content);

// The file's content for these list entries and the state of the check box
// "do not ask again", as UTF-8. Entries are stored trimmed; an entry that
// still holds a line feed cannot be stored as one line and is left out,
// because written as it stands its remainder would read as settings of its
// own.
QByteArray write(const QStringList &paths, bool dontAskAgain);

// LD_LIBRARY_PATH for the installer: the entries of the inherited value,
// then the list entries, each trimmed, joined with ":". Empty entries are
// left out, inherited ones too: the dynamic loader would read them as the
// current directory, which is the working directory full of downloaded files.
QString libraryPathValue(const QString &inherited, const QStringList &paths);

} // namespace LibPath

#endif // ORVANE_WINDOW_LIBPATH_H
