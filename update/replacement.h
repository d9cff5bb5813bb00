#ifndef ORVANE_REPLACEMENT_H
#define ORVANE_REPLACEMENT_H

#include "update/deferredcopy.h"

#include <QString>
#include <QStringList>

// The replacement pass of the self-update mode: every named installation
// file is replaced by its new version, which waits in the working directory
// under the same relative name with "_" appended.
namespace Update {

// A file in use is usually released within seconds: a target that cannot be
// removed is tried this often, with this wait after every failed attempt.
constexpr int removalAttempts = 5;
constexpr int removalWaitMs = 1000;

struct PassResult
{
    QStringList errors; // one message per failure, in order
    CopyList pending;   // files to copy once the program has ended
};

// Replaces appDir + "/" + name by workDir + "/" + name + "_" for every name,
// in order. Every failure adds a message; a file that could not be replaced
// although its new version is there is also added to the pending copies.
// waitMs is the wait between removal attempts.
PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs = removalWaitMs);

} // namespace Update

#endif // ORVANE_REPLACEMENT_H
