#ifndef ORVANE_REPLACEMENT_H
#define ORVANE_REPLACEMENT_H

#include "update/deferredcopy.h"
#include "update/updatelock.h"

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

struct PassResult
{
    QStringList errors;      // one message per failure, in order
    CopyList pending;        // files to copy once the program has ended
    QStringList otherErrors; // the messages that come with no pending copy
    QStringList diagnostics; // lines for the log (English), reported at the end
};

// Replaces appDir + "/" + name by workDir + "/" + name + "_" for every name,
// in order, each in one step, and makes the new names durable before it
// returns. Every failure adds a message; a file that could not be replaced
// now, but may be later, is also added to the pending copies. A new name that
// may not survive a power cut (its directory could not be flushed) is a
// failure of that file too, with nothing pending. waitMs is the wait between
// replacement attempts, lockWait the longest wait for another pass to end.
PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs = removalWaitMs, int lockWait = lockWaitMs);

} // namespace Update

#endif // ORVANE_REPLACEMENT_H
