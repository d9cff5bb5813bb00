#include "update/replacement.h"

#include "platform/platform.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>

namespace Update {

namespace {

QString missingSourceMessage(const QString &sourcePath)
{
    return QStringLiteral("Файл %0 не существует.").arg(sourcePath);
}

QString cannotRemoveMessage(const QString &targetPath, const QString &reason)
{
    return QStringLiteral("Файл %0 не может быть удален. ").arg(targetPath) + reason;
}

QString cannotCopyMessage(const QString &sourcePath, const QString &reason)
{
    return QStringLiteral("Файл %0 не может быть скопирован. ").arg(sourcePath) + reason;
}

QString otherUpdateMessage(const QString &workDir)
{
    return QStringLiteral("Другое обновление уже выполняется в %0.").arg(workDir);
}

// How long a lock file may stay without an owner written into it before it
// counts as left by a run killed while it took the lock.
constexpr qint64 ownerlessLockAgeMs = 5000;

enum class Lock { Held, TakenByOther, Unavailable };

Lock takeLock(QLockFile &lock, const QString &path, int waitMs)
{
    // A long pass is not a stale one: only a lock whose owner has died is
    // taken over, however old it is.
    lock.setStaleLockTime(0);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const qint64 left = qMax<qint64>(0, waitMs - waited.elapsed());
        if (lock.tryLock(static_cast<int>(qMin<qint64>(left, 500))))
            return Lock::Held;
        if (lock.error() != QLockFile::LockFailedError)
            return Lock::Unavailable;
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

// Waits without a busy loop; no window is open, so nothing else is handled.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Writes all of data; a short write that Qt leaves without an error text is
// followed by another, which then meets the error and names it.
bool writeAll(QFileDevice &file, const QByteArray &data, qint64 size, QString *reason)
{
    qint64 written = 0;
    while (written < size) {
        const qint64 now = file.write(data.constData() + written, size - written);
        if (now <= 0) {
            *reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                           : Platform::lastErrorText();
            return false;
        }
        written += now;
    }
    return true;
}

// Copies what is left of source into destination through this process.
bool copyThrough(QFile &source, QFileDevice &destination, QString *reason)
{
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(block.data(), block.size());
        if (read < 0) {
            *reason = source.errorString();
            return false;
        }
        if (read == 0)
            return true;
        if (!writeAll(destination, block, read, reason))
            return false;
    }
}

// Copies source into staged, a new file beside the target, with the new
// version's permissions. The pass flushes it to the disk before it takes the
// target's name.
bool stage(QFile &source, QTemporaryFile &staged, QString *reason)
{
    if (!source.open(QIODevice::ReadOnly)) {
        *reason = source.errorString();
        return false;
    }
    if (!staged.open()) {
        *reason = staged.errorString();
        return false;
    }
    switch (Platform::copyContent(source.handle(), staged.handle(), reason)) {
    case Platform::KernelCopy::Done:
        break;
    case Platform::KernelCopy::Failed:
        return false;
    case Platform::KernelCopy::Unsupported:
        if (!copyThrough(source, staged, reason))
            return false;
        break;
    }
    // Small writes stay in the buffer: only flush() shows a full disk.
    if (!staged.flush()) {
        *reason = staged.errorString().isEmpty() ? Platform::lastErrorText() : staged.errorString();
        return false;
    }
    // The new version keeps the permissions it came with, and its owner may in
    // any case read, write and run it. Whether that works does not matter.
    staged.setPermissions(source.permissions() | QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ExeOwner);
    staged.close();
    return true;
}

// Gives the staged file the target's name, trying again while the target is
// held by someone. On failure *reason is the system's text.
bool replaceWithRetries(const QString &stagedPath, const QString &targetPath, int waitMs,
                        QString *reason)
{
    for (int attempt = 1;; ++attempt) {
        switch (Platform::replaceFile(stagedPath, targetPath, reason)) {
        case Platform::Replacement::Done:
            return true;
        case Platform::Replacement::Refused:
            return false;
        case Platform::Replacement::Busy:
            break;
        }
        wait(waitMs);
        if (attempt == removalAttempts)
            return false;
    }
}

// One name of the pass: what it stands for and how it ended.
struct Entry
{
    QString targetPath;
    QString sourcePath;
    QString directory;    // the target's, where only "/" separates directories
    QString stagedPath;   // the new version beside the target, until it has the target's name
    QString message;      // the failure, if any
    bool pending = false; // the failure leaves the file to the deferred copy
};

// The pass works in three steps, so that the disk is flushed once for all
// files rather than once per file: every new version is staged beside its
// target, all of them are flushed, then each takes its target's name.
class Pass
{
public:
    Pass(const QString &appDir, const QString &workDir, int waitMs)
        : m_appDir(appDir)
        , m_workDir(workDir)
        , m_waitMs(waitMs)
    {
    }

    void stage(const QString &name);
    void flushStaged();
    void replaceStaged();
    void syncFolders();
    // The messages and the pending copies, in the order of the names.
    PassResult result() const;

private:
    void createDirectories(const QString &directory);
    void removeLeftovers(const QString &directory);
    void addSynced(const QString &directory);

    QString m_appDir;
    QString m_workDir;
    int m_waitMs;
    QSet<QString> m_cleaned;
    QList<Entry> m_entries;
    QStringList m_syncedFolders;
};

void Pass::stage(const QString &name)
{
    Entry entry;
    entry.targetPath = m_appDir + QLatin1Char('/') + name;
    QFile source(m_workDir + QLatin1Char('/') + name + QLatin1Char('_'));
    entry.sourcePath = source.fileName();
    const auto end = qScopeGuard([this, &entry] { m_entries.append(entry); });

    if (!source.exists()) {
        entry.message = missingSourceMessage(entry.sourcePath);
        return;
    }
    // No file can take a directory's name, now or later: reported at once,
    // and nothing is left for the deferred copy, which would put the file
    // inside the directory and restart the program as if it were updated.
    const QFileInfo targetInfo(entry.targetPath);
    if (targetInfo.isDir() && !targetInfo.isSymLink()) {
        entry.message = cannotRemoveMessage(entry.targetPath, Platform::isDirectoryText());
        return;
    }

    // Only "/" separates directories in a name. When a directory cannot be
    // created, staging fails and reports it.
    const int slash = entry.targetPath.lastIndexOf(QLatin1Char('/'));
    const QString directory = entry.targetPath.left(slash);
    entry.directory = directory;
    if (!QDir(directory).exists())
        createDirectories(directory);
    removeLeftovers(directory);

    // Removed again by its destructor when staging fails, so no staged file
    // is left behind.
    QTemporaryFile staged(directory + QLatin1Char('/') + QLatin1Char('.') +
                          entry.targetPath.mid(slash + 1) + QLatin1String(stagedInfix) +
                          QLatin1String("XXXXXX"));
    QString reason;
    if (!::Update::stage(source, staged, &reason)) {
        entry.message = cannotCopyMessage(entry.sourcePath, reason);
        entry.pending = true;
        return;
    }
    // The temporary file object keeps its file open until it goes, and
    // Windows renames no file that is open: it goes now, the file stays.
    staged.setAutoRemove(false);
    entry.stagedPath = staged.fileName();
}

void Pass::flushStaged()
{
    QStringList paths;
    for (const Entry &entry : qAsConst(m_entries)) {
        if (!entry.stagedPath.isEmpty())
            paths.append(entry.stagedPath);
    }
    QString reason;
    if (paths.isEmpty() || Platform::flushFiles(paths, &reason))
        return;
    // A new version that may not be on the disk takes no installed file's
    // place: after a power cut the name could hold an empty file.
    for (Entry &entry : m_entries) {
        if (entry.stagedPath.isEmpty())
            continue;
        QFile::remove(entry.stagedPath);
        entry.stagedPath.clear();
        entry.message = cannotCopyMessage(entry.sourcePath, reason);
        entry.pending = true;
    }
}

void Pass::replaceStaged()
{
    for (Entry &entry : m_entries) {
        if (entry.stagedPath.isEmpty())
            continue;
        QString reason;
        if (replaceWithRetries(entry.stagedPath, entry.targetPath, m_waitMs, &reason)) {
            addSynced(entry.directory);
        } else {
            QFile::remove(entry.stagedPath);
            entry.message = cannotRemoveMessage(entry.targetPath, reason);
            entry.pending = true;
        }
        entry.stagedPath.clear();
    }
}

PassResult Pass::result() const
{
    PassResult result;
    for (const Entry &entry : m_entries) {
        if (!entry.message.isEmpty())
            result.errors.append(entry.message);
        if (entry.pending)
            result.pending.append(qMakePair(entry.targetPath, entry.sourcePath));
    }
    result.syncedFolders = m_syncedFolders;
    return result;
}

void Pass::createDirectories(const QString &directory)
{
    QStringList missing;
    for (QString path = directory; !path.isEmpty() && !QFileInfo::exists(path);
         path = path.left(path.lastIndexOf(QLatin1Char('/'))))
        missing.append(path);
    QDir().mkpath(directory);
    // A new directory is a new name in its parent.
    for (const QString &path : qAsConst(missing))
        addSynced(path.left(path.lastIndexOf(QLatin1Char('/'))));
}

// Staged files of a run that was killed are removed by the next run that
// holds the lock, once per directory: no other run can be writing them.
void Pass::removeLeftovers(const QString &directory)
{
    if (m_cleaned.contains(directory))
        return;
    m_cleaned.insert(directory);
    QDir dir(directory);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &entry : entries) {
        if (isStagedFileName(entry))
            dir.remove(entry);
    }
}

void Pass::addSynced(const QString &directory)
{
    if (!directory.isEmpty() && !m_syncedFolders.contains(directory))
        m_syncedFolders.append(directory);
}

void Pass::syncFolders()
{
    for (const QString &directory : qAsConst(m_syncedFolders)) {
        QString reason;
        if (!Platform::syncDirectory(directory, &reason))
            qDebug() << QString(QStringLiteral("Error. Can't flush directory ") + directory +
                                QStringLiteral(": ") + reason);
    }
}

} // namespace

bool isStagedFileName(const QString &fileName)
{
    const QLatin1String infix(stagedInfix);
    constexpr int randomLength = 6;
    const int infixAt = fileName.size() - randomLength - infix.size();
    if (!fileName.startsWith(QLatin1Char('.')) || infixAt < 2 ||
        QStringView(fileName).mid(infixAt, infix.size()) != infix)
        return false;
    for (const QChar c : QStringView(fileName).right(randomLength)) {
        if (c.unicode() > 0x7f || !c.isLetterOrNumber())
            return false;
    }
    return true;
}

PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs, int lockWait)
{
    Pass pass(appDir, workDir, waitMs);
    if (names.isEmpty())
        return pass.result();

    const QString lockPath = workDir + QLatin1Char('/') + QLatin1String(lockFileName);
    QLockFile lock(lockPath);
    switch (takeLock(lock, lockPath, lockWait)) {
    case Lock::Held:
        break;
    case Lock::TakenByOther: {
        PassResult result;
        result.errors.append(otherUpdateMessage(workDir));
        return result;
    }
    case Lock::Unavailable:
        // A working directory that takes no lock file takes no error file
        // either; the update itself may still work, so it goes on.
        qDebug() << QString(QStringLiteral("Error. Can't create lock file ") + lockPath);
        break;
    }

    for (const QString &name : names)
        pass.stage(name);
    pass.flushStaged();
    pass.replaceStaged();
    // Before the program reports success or restarts: after a power cut the
    // names must hold the new versions.
    pass.syncFolders();
    return pass.result();
}

} // namespace Update
