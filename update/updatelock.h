#ifndef ORVANE_UPDATE_UPDATELOCK_H
#define ORVANE_UPDATE_UPDATELOCK_H

#include "platform/systemerror.h"

#include <QString>

class QLockFile;

// Only one pass works on an installation at a time: it holds a lock file in
// the working directory. Only the holder may remove what killed runs left
// behind, since no other run can be writing it then.
namespace Update {

constexpr char lockFileName[] = "Orvane.lock";

// A second run waits this long for the lock before it gives up with a
// message. A lock left by a process that has died is taken over, on this
// machine or on another that shares the working directory, and of any user
// who may remove it there; one whose holder lives anywhere never is.
constexpr int lockWaitMs = 60000;

enum class Lock {
    Held,
    TakenByOther, // another run held it for the whole wait
};

// Who holds a lock file, as it says: the holder's machine and process id;
// pid 0 when that cannot be read.
struct LockHolder
{
    QString host;
    qint64 pid = 0;
};

LockHolder lockHolder(const QLockFile &lock);

// The lock file's path in a working directory.
QString lockFilePath(const QString &workDir);

// Takes lock, the lock file at path, waiting up to waitMs for another run to
// let go of it. When no lock can be made there, the error says why: the
// system's, or ours for something that is no lock file at all (a FIFO, a
// link), which is reported at once.
Platform::Result<Lock> takeLock(QLockFile &lock, const QString &path, int waitMs);

} // namespace Update

#endif // ORVANE_UPDATE_UPDATELOCK_H
