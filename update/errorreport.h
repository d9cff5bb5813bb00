#ifndef ORVANE_UPDATE_ERRORREPORT_H
#define ORVANE_UPDATE_ERRORREPORT_H

#include "installation/exitcode.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The error file of the self-update mode: "Orvane.err" in the working
// directory, one message per line, opened for the user in an editor.
namespace Update {

// A failure of the update, as the pass, the recovery and the restart find
// it. Only errorMessage() puts it into the user's words.
struct UpdateError
{
    enum class Kind {
        MissingSource,    // path: the new version that is not there
        CannotRemove,     // path: the installed file that could not be replaced
        CannotCopy,       // path: the new version that could not be put in place
        OtherUpdate,      // path: the working directory another update holds
        UnreadableRecord, // path: the record of an update cut short
        CannotRestart,    // path: the program that could not be started again
        Recorded,         // reason: a message as an update's record keeps it
    };
    Kind kind = Kind::CannotCopy;
    QString path;
    QString reason; // the system's text, where one follows
    // OtherUpdate: the lock file or record in the way (empty: none named),
    // its holder's machine and process (pid 0: not known).
    QString lockPath;
    QString host;
    qint64 pid = 0;
};

UpdateError missingSource(const QString &sourcePath);
UpdateError cannotRemove(const QString &targetPath, const QString &reason);
UpdateError cannotCopy(const QString &sourcePath, const QString &reason);
UpdateError otherUpdate(const QString &workDir, const QString &lockPath = QString(),
                        const QString &host = QString(), qint64 pid = 0);
UpdateError unreadableRecord(const QString &recordPath);
UpdateError cannotRestart(const QString &programPath, const QString &reason);
UpdateError recorded(const QString &message);

// The message of a failure, in the user's language.
QString errorMessage(const UpdateError &error);
QStringList errorMessages(const QList<UpdateError> &errors);

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
