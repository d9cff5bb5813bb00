#include "update/deferredcopy.h"

#include "platform/files.h"
#include "platform/process.h"

namespace Update {

// /bin/sh with GNU coreutils ("cp -T", "chmod --reference", "sync FILE").
bool startDeferredCopy(const DeferredCopy &copy, const QProcessEnvironment &environment)
{
    // The desktop's opener as the program would start it: found on PATH's
    // absolute directories only.
    const QString editor = Platform::findProgram(QStringLiteral("xdg-open"), environment);
    const QStringList arguments = deferredCopyShellArguments(copy, editor);
    if (copy.recordFile.isEmpty())
        return Platform::startDetached(QStringLiteral("/bin/sh"), arguments, environment);
    // The shell holds the update through its copy of this opening of the
    // record, locked, until it has removed the record.
    bool held = false;
    QString reason;
    const int record = Platform::lockFile(copy.recordFile, &held, &reason);
    if (record < 0)
        return false;
    const bool started =
        Platform::startDetachedHandingOn(QStringLiteral("/bin/sh"), arguments, environment, record);
    Platform::closeFile(record, &reason);
    return started;
}

bool recordedCopyRuns(const QString &recordPath, const QString &, qint64)
{
    // A shell that runs holds the lock, on this machine or another that
    // shares the directory; one that has ended, however, holds nothing.
    bool held = false;
    QString reason;
    const int record = Platform::lockFile(recordPath, &held, &reason);
    if (record < 0)
        return held;
    Platform::closeFile(record, &reason);
    return false;
}

bool deferredCopyRuns(qint64 chain)
{
    // The chain's temporary files carry its shell's id; the shell names
    // itself by its $0, so an id given again to another program does not
    // count.
    return Platform::processRunsWith(chain, deferredCopyMark);
}

void removeAbandonedReports(const QString &)
{
    // The chain writes its report itself, when it fails.
}

void dropDeferredCopyVariables(QProcessEnvironment *)
{
    // The chain hands its paths to /bin/sh as arguments.
}

} // namespace Update
