#ifndef ORVANE_UPDATE_ERRORREPORT_H
#define ORVANE_UPDATE_ERRORREPORT_H

#include "installation/exitcode.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The error file of the self-update mode: "Orvane.err" in the working
// directory, one message per line, opened for the user in an editor.
namespace Update {

// The messages, in the user's language. A reason, where one follows, is the
// system's own text.
QString missingSourceMessage(const QString &sourcePath);
QString cannotRemoveMessage(const QString &targetPath, const QString &reason);
QString cannotCopyMessage(const QString &sourcePath, const QString &reason);
QString otherUpdateMessage(const QString &workDir);
QString unreadableRecordMessage(const QString &recordPath);
// The same, naming the lock in the way: its file, and its holder's machine
// and process (pid 0: not known).
QString otherUpdateMessage(const QString &workDir, const QString &lockPath, const QString &host,
                           qint64 pid);
QString cannotRestartMessage(const QString &programPath, const QString &reason);

// The error file's path in a working directory.
QString errorFilePath(const QString &workDir);

// The file's bytes: the messages in the local 8-bit encoding, with a carriage
// return and line feed between two messages and nothing after the last.
QByteArray errorFileContent(const QStringList &errors);

// Writes the file, replacing an earlier one. Returns Ok, or logs the failure
// and returns CannotOpenErrorFile or CannotWriteErrorFile.
Installation::ExitCode writeErrorFile(const QString &path, const QStringList &errors);

} // namespace Update

#endif // ORVANE_UPDATE_ERRORREPORT_H
