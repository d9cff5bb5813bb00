#ifndef ORVANE_UPDATE_RECOVERY_H
#define ORVANE_UPDATE_RECOVERY_H

#include "update/errorreport.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The update that a run cut short left behind in its record (updaterecord.h)
// is finished by the next start, so that the installation never stays half
// old, half new.
namespace Update {

struct Recovery
{
    QList<UpdateError> errors; // the failures for the error file
    QStringList diagnostics;   // lines for the log (English)
};

// Whether the deferred copy of the record at recordPath still runs, so that
// nobody else may change the installation; false when there is no record.
bool recordedCopyRunsAt(const QString &recordPath);

// For the run that holds the lock while no deferred copy runs: finishes the
// update the record in workDir describes, if there is one, and removes the
// record, also when something failed, so that a failure is reported once.
// An update cut short while it staged is undone: its staged files are
// removed, and no target has changed. One cut short later is finished: a
// staged file still there takes its target's name; a target that does not
// hold its new version gets it copied again from its source (as the pass
// copies, beside it and renamed over it); then the directories are flushed.
// waitMs is the wait between attempts at a held target.
Recovery finishRecordedUpdate(const QString &workDir, int waitMs);

// What every start does first, in the working directory: one look for a
// record; if there is one, and the lock can be had at once, and its deferred
// copy no longer runs, the update is finished. All went well: a line in the
// log. Otherwise the failures go to the error file, which is opened in the
// editor. Either way the start then goes on as usual.
void finishInterruptedUpdate(const QString &workDir, const QProcessEnvironment &environment);

} // namespace Update

#endif // ORVANE_UPDATE_RECOVERY_H
