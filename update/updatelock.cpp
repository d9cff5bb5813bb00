#include "update/updatelock.h"

#include "platform/files.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace Update {

namespace {

// How long a lock file may stay without an owner written into it before it
// counts as left by a run killed while it took the lock.
constexpr qint64 ownerlessLockAgeMs = 5000;

// Removes the lock file when its holder is certainly gone. Qt itself takes
// over a lock of a process of this machine that has died, where it may write
// the file; not one of another user, whose file it cannot open for writing,
// nor one of another machine, whose process ids mean nothing here. What
// proves the holder's end everywhere is the lock the system keeps on the file
// for as long as the holder's process lives, on this machine or on another
// that shares the directory, and whose file server lets it go once its
// client has ended (removeUnheldFile); the age of the file proves nothing,
// since a long update is no dead one.
void removeAbandonedLock(QLockFile &lock, const QString &path)
{
    // A file without an owner written into it belongs to a run that is
    // taking the lock: between its creation and its system lock, it holds
    // none. It counts as abandoned only once it has stayed so a while.
    qint64 pid = 0;
    QString host;
    QString application;
    const QDateTime written = QFileInfo(path).lastModified();
    if (!lock.getLockInfo(&pid, &host, &application) &&
        !(written.isValid() &&
          qAbs(written.msecsTo(QDateTime::currentDateTime())) > ownerlessLockAgeMs))
        return;
    (void)Platform::removeUnheldFile(path);
}

// Another user's run can judge the lock only when it can open it: whatever
// the umask, everybody may read it (it holds no secret), nobody else write it.
void letOthersRead(const QString &path)
{
    const std::optional<unsigned> mode = Platform::permissionBits(path);
    if (mode && (*mode & 0044) != 0044)
        (void)Platform::setPermissionBits(path, *mode | 0044);
}

// QLockFile tells no reason why it could not make its file: the system
// tells it when a file is created beside it the same way. Should that work,
// the kind of failure that QLockFile saw is all there is to say.
Platform::SystemError whyNoLockFile(const QString &path, QLockFile::LockError error)
{
    const QString probe = path + QStringLiteral(".probe");
    const Platform::Result<int> created = Platform::createNewFile(probe);
    if (!created.ok() && !Platform::isNameTaken(created.error()))
        return created.error();
    if (created.ok()) {
        (void)Platform::closeFile(created.value());
        QFile::remove(probe);
    }
    return Platform::ownError(error == QLockFile::PermissionError
                                  ? QStringLiteral("No permission to make the lock file")
                                  : QStringLiteral("The lock file cannot be made"));
}

} // namespace

LockHolder lockHolder(const QLockFile &lock)
{
    LockHolder holder;
    QString application;
    if (!lock.getLockInfo(&holder.pid, &holder.host, &application))
        return LockHolder();
    return holder;
}

QString lockFilePath(const QString &workDir)
{
    return workDir + QLatin1Char('/') + QLatin1String(lockFileName);
}

Platform::Result<Lock> takeLock(QLockFile &lock, const QString &path, int waitMs)
{
    // A long pass is not a stale one: only a lock whose owner has died is
    // taken over, however old it is.
    lock.setStaleLockTime(0);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const qint64 left = qMax<qint64>(0, waitMs - waited.elapsed());
        // Another run's lock is a regular file; anything else in its place
        // never goes away by waiting, and reading a FIFO or a link to a
        // device to find an owner would hang.
        const QFileInfo existing(path);
        if (existing.isSymLink() || (existing.exists() && !existing.isFile()))
            return existing.isDir() && !existing.isSymLink() ? Platform::isDirectoryError()
                                                             : Platform::notRegularFileError();
        if (lock.tryLock(static_cast<int>(qMin<qint64>(left, 500)))) {
            letOthersRead(path);
            return Lock::Held;
        }
        if (lock.error() != QLockFile::LockFailedError)
            return whyNoLockFile(path, lock.error());

        removeAbandonedLock(lock, path);
        if (left == 0)
            return Lock::TakenByOther;
    }
}

} // namespace Update
