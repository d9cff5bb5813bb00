#include "update/deferredcopy.h"

#include "platform/files.h"
#include "platform/process.h"

#include <QDateTime>
#include <QFileInfo>

namespace Update {

namespace {

// How long a chain may take from creating its temporary file to locking it.
constexpr qint64 unlockedFileAgeMs = 5000;

} // namespace

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
    const bool started = Platform::startDetachedHandingOn(QStringLiteral("/bin/sh"), arguments,
                                                          environment, record, &reason);
    QString ignored;
    Platform::closeFile(record, &ignored);
    return started;
}

bool recordedCopyRuns(const QString &recordPath, const QString &, qint64)
{
    // A shell that runs holds the lock, on this machine or another that
    // shares the directory; one that has ended, however, holds nothing.
    return Platform::fileLockState(recordPath) == Platform::FileLock::Held;
}

bool deferredCopyRuns(qint64 chain)
{
    // The chain's temporary files carry its shell's id; the shell names
    // itself by its $0, so an id given again to another program does not
    // count.
    return Platform::processRunsWith(chain, deferredCopyMark);
}

bool deferredCopyMayUse(const QString &path, qint64 chain, const QString &)
{
    if (chain != 0 && deferredCopyRuns(chain))
        return true;
    // A chain's lock is what proves its end on any machine; where none can
    // be looked at, the file stays.
    if (Platform::fileLockState(path) != Platform::FileLock::Free)
        return true;
    // The chain creates the file before it takes the file's lock, and writes
    // into it only once it holds the lock: an empty file may be that young.
    const QFileInfo info(path);
    return info.size() == 0 &&
           qAbs(info.lastModified().msecsTo(QDateTime::currentDateTime())) < unlockedFileAgeMs;
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
