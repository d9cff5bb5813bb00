#ifndef ORVANE_UPDATE_REPLACEMENT_H
#define ORVANE_UPDATE_REPLACEMENT_H

#include "platform/systemerror.h"
#include "update/deferredcopy.h"
#include "update/errorreport.h"
#include "update/updatelock.h"
#include "update/updaterecord.h"

#include <QString>
#include <QStringList>

#include <memory>

// The replacement pass of the self-update mode: every named installation
// file is replaced by its new version, which waits in the working directory
// under the same relative name with "_" appended.
namespace Update {

// A file in use is usually released within seconds: a target that is held
// when its new version is to take its name is tried this often, with this
// wait after every failed attempt. A refusal that waiting cannot change
// (permissions, a full disk) is not tried again.
constexpr int renameAttempts = 5;
constexpr int renameWaitMs = 1000;

struct PassResult
{
    QList<UpdateError> errors;      // every failure, in order
    CopyList pending;               // files to copy once the program has ended
    QList<UpdateError> otherErrors; // the failures that come with no pending copy
    QStringList diagnostics;        // lines for the log (English), reported at the end
    // Held until the outcome is reported, or handed to the deferred copy, so
    // that no other run takes the update's record meanwhile.
    std::shared_ptr<QLockFile> lock;
    QString workDir;       // where the record lies
    bool recorded = false; // the record was written: the outcome must remove it
    UpdateRecord record;   // what it says
};

// Replaces appDir + "/" + name by workDir + "/" + name + "_" for every name,
// in order, each in one step, and makes the new names durable before it
// returns. Every failure adds a message; a file that could not be replaced
// now, but may be later, is also added to the pending copies. A new name that
// may not survive a power cut (its directory could not be flushed) is a
// failure of that file too, with nothing pending. waitMs is the wait between
// replacement attempts, lockWait the longest wait for another pass to end.
//
// Before anything else, an update that the record in workDir describes is
// finished (recovery.h): its deferred copy, while it runs, holds the
// installation as the lock does, and is waited for within lockWait. Then the
// pass writes its own record (updaterecord.h), first while it stages, then
// once the staged files are flushed, before the first target changes.
PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs = renameWaitMs, int lockWait = lockWaitMs);

// Gives the staged file the target's name in one step, trying again while
// the target is held (attempts times, waitMs apart); a running program or a
// loaded library on Windows steps aside first. On failure the staged file is
// still there.
Platform::Failure replaceStagedFile(const QString &stagedPath, const QString &targetPath,
                                    int waitMs, int attempts);

// Removes from directory what killed runs left behind (staged files, the
// deferred copy's temporary files of chains that have ended, old versions set
// aside that are released, after giving one whose name is free its name
// back). Only the holder of the lock may: another run may be writing them.
void removeLeftovers(const QString &directory);

} // namespace Update

#endif // ORVANE_UPDATE_REPLACEMENT_H
