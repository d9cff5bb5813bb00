#ifndef ORVANE_REPLACEMENT_H
#define ORVANE_REPLACEMENT_H

#include "update/deferredcopy.h"

#include <QString>
#include <QStringList>

// The replacement pass of the self-update mode: every named installation
// file is replaced by its new version, which waits in the working directory
// under the same relative name with "_" appended.
namespace Update {

// A file in use is usually released within seconds: a target that is held
// when its new version is to take its name is tried this often, with this
// wait after every failed attempt. A refusal that waiting cannot change
// (permissions, a full disk) is not tried again.
constexpr int removalAttempts = 5;
constexpr int removalWaitMs = 1000;

// Only one pass works on an installation at a time: it holds this lock file
// in the working directory, and a second run waits for it this long before
// it gives up with a message. A lock left by a process that has died is
// taken over.
constexpr char lockFileName[] = "Orvane.lock";
constexpr int lockWaitMs = 60000;

// A new version is written beside its target as "." + the target's file
// name (its first 64 UTF-16 units) + this + six random letters or digits,
// flushed, and then renamed over the target. The run that holds the lock removes such files left by
// a run that was killed, in every directory it replaces files in.
constexpr char stagedInfix[] = ".orvane-new-";

// Whether a file name is that of a staged new version.
bool isStagedFileName(const QString &fileName);

// The QTemporaryFile template of the staged file for a target's file name.
QString stagedFileTemplate(const QString &fileName);

struct PassResult
{
    QStringList errors;        // one message per failure, in order
    CopyList pending;          // files to copy once the program has ended
    QStringList otherErrors;   // the messages that come with no pending copy
    QStringList syncedFolders; // directories that received new names, flushed at the end
};

// Replaces appDir + "/" + name by workDir + "/" + name + "_" for every name,
// in order, each in one step, and makes the new names durable before it
// returns. Every failure adds a message; a file that could not be replaced
// now, but may be later, is also added to the pending copies. waitMs is the
// wait between replacement attempts, lockWait the longest wait for another
// pass to end.
PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs = removalWaitMs, int lockWait = lockWaitMs);

} // namespace Update

#endif // ORVANE_REPLACEMENT_H
