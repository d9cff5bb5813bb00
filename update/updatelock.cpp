#include "update/updatelock.h"

#include "platform/files.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>

namespace Update {

namespace {

// How long a lock file may stay without an owner written into it before it
// counts as left by a run killed while it took the lock.
constexpr qint64 ownerlessLockAgeMs = 5000;

} // namespace

QString lockFilePath(const QString &workDir)
{
    return workDir + QLatin1Char('/') + QLatin1String(lockFileName);
}

Lock takeLock(QLockFile &lock, const QString &path, int waitMs, QString *reason)
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
        if (existing.isSymLink() || (existing.exists() && !existing.isFile())) {
            *reason = existing.isDir() && !existing.isSymLink() ? Platform::isDirectoryText()
                                                                : Platform::notRegularFileText();
            return Lock::Unavailable;
        }
        if (lock.tryLock(static_cast<int>(qMin<qint64>(left, 500))))
            return Lock::Held;
        switch (lock.error()) {
        case QLockFile::LockFailedError:
            break;
        case QLockFile::PermissionError:
            *reason = QStringLiteral("Permission denied");
            return Lock::Unavailable;
        default:
            *reason = QStringLiteral("Unknown error");
            return Lock::Unavailable;
        }

        qint64 pid = 0;
        QString host;
        QString application;
        const QDateTime written = QFileInfo(path).lastModified();
        if (!lock.getLockInfo(&pid, &host, &application) && written.isValid() &&
            qAbs(written.msecsTo(QDateTime::currentDateTime())) > ownerlessLockAgeMs)
            lock.removeStaleLockFile();
        if (left == 0)
            return Lock::TakenByOther;
    }
}

} // namespace Update
