#include "update/replacement.h"

#include "installation/installation.h"

#include "platform/platform.h"
#include "update/errorreport.h"

#include <QCoreApplication>
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

/*
  How an installation file is replaced, and why this way.

  The user's installation must never be left worse than it was found: at
  every instant, even when the program is killed or the power goes, each
  installed name holds its complete old or its complete new version, and
  nothing that failed is called a success.

  - Every new version is first copied beside its target as a staged file
    (".<name>.orvane-new-XXXXXX"): in the same directory, so that the final
    rename stays on one file system and replaces the name in one step. Linux
    copies inside the kernel and starts the writeback at once; the staged
    file usually has no name until it is complete.
  - All staged files are flushed before any takes a target's name: one
    syncfs per file system on Linux (one journal commit for all files, not
    one per file), FlushFileBuffers per file on Windows. A flush that fails
    uses no staged file, since after a power cut its name could hold an
    empty file.
  - Then each staged file is renamed over its target. A target held by
    someone (mounted on, a running program on Windows) is tried again a few
    times; a refusal that waiting cannot change is not. What cannot be
    replaced now is left to the deferred copy, which runs after the program
    has ended, with the same one-step rename.
  - Last, every directory that received new names is flushed, so that the
    names themselves survive a power cut.
  - One pass at a time holds Orvane.lock in the working directory. Only the
    holder removes staged files that a killed run left behind: no other
    run can be writing them then.
*/

namespace Update {

namespace {

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
bool copyToStaged(QFile &source, QTemporaryFile &staged, QString *reason)
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
                        int attempts, QString *reason)
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
        // A single attempt is made at once, with nothing to wait for.
        if (attempts > 1)
            wait(waitMs);
        if (attempt == attempts)
            return false;
    }
}

// The position of the last separator of directories in path, as the system
// reads it, or -1.
int lastSeparator(const QString &path)
{
    for (int i = path.size() - 1; i >= 0; --i) {
        if (Platform::isPathSeparator(path.at(i)))
            return i;
    }
    return -1;
}

// One name of the pass: what it stands for and how it ended.
struct Entry
{
    QString targetPath;
    QString sourcePath;
    QString directory;    // the target's, where the staged file stands
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
        , m_ownProgram(QCoreApplication::applicationFilePath())
    {
    }

    // Only the run that holds the lock may remove staged files: another run
    // may be writing them.
    void setMayRemoveLeftovers(bool may) { m_mayRemoveLeftovers = may; }

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
    QFileInfo m_ownProgram;
    bool m_mayRemoveLeftovers = true;
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

    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists()) {
        entry.message = missingSourceMessage(entry.sourcePath);
        return;
    }
    // No file can take a directory's name, now or later: reported at once,
    // and nothing is left for the deferred copy, which would put the file
    // inside the directory and restart the program as if it were updated.
    // A name that ends in a separator can only ever be a directory's.
    const QFileInfo targetInfo(entry.targetPath);
    if (Platform::isPathSeparator(name.isEmpty() ? QChar() : name.back()) ||
        (targetInfo.isDir() && !targetInfo.isSymLink())) {
        entry.message = cannotRemoveMessage(entry.targetPath, Platform::isDirectoryText());
        return;
    }
    // Opening a FIFO would wait for a writer that never comes, with the
    // lock held; a device or a socket is no new version either.
    if (!sourceInfo.isFile() && !sourceInfo.isDir()) {
        entry.message = cannotCopyMessage(entry.sourcePath, QStringLiteral("Not a regular file"));
        return;
    }

    // Directories are created only from "/". The staged file stands beside
    // the target, in the directory the system sees, which on Windows may be
    // named with a backslash; when it is missing, staging fails and says so.
    const QString created = entry.targetPath.left(entry.targetPath.lastIndexOf(QLatin1Char('/')));
    if (!QDir(created).exists())
        createDirectories(created);
    const int separator = lastSeparator(entry.targetPath);
    entry.directory = entry.targetPath.left(separator);
    removeLeftovers(entry.directory);

    // Removed again by its destructor when staging fails, so no staged file
    // is left behind.
    QTemporaryFile staged(entry.directory + QLatin1Char('/') +
                          stagedFileTemplate(entry.targetPath.mid(separator + 1)));
    QString reason;
    if (!copyToStaged(source, staged, &reason)) {
        entry.message = cannotCopyMessage(entry.sourcePath, reason);
        entry.pending = true;
        return;
    }
    // The temporary file object keeps its file open until it goes, and
    // Windows renames no file that is open: it goes now, the file stays.
    // A file written without a name gets it here, and that can fail too.
    staged.setAutoRemove(false);
    entry.stagedPath = staged.fileName();
    if (entry.stagedPath.isEmpty()) {
        entry.message = cannotCopyMessage(entry.sourcePath, Platform::lastErrorText());
        entry.pending = true;
    }
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
        // The running program holds its own executable on Windows for as
        // long as it runs: waiting cannot free it, the deferred copy can.
        const int attempts =
            Platform::runningProgramIsHeld() && QFileInfo(entry.targetPath) == m_ownProgram
                ? 1
                : removalAttempts;
        QString reason;
        if (replaceWithRetries(entry.stagedPath, entry.targetPath, m_waitMs, attempts, &reason)) {
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
        if (!entry.message.isEmpty() && !entry.pending)
            result.otherErrors.append(entry.message);
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
    if (!m_mayRemoveLeftovers || m_cleaned.contains(directory))
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
            Installation::logError("Error. Can't flush directory ",
                                   directory + QStringLiteral(": ") + reason);
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

QString stagedFileTemplate(const QString &fileName)
{
    // At most this much of the target's name: 64 UTF-16 units take at most
    // 192 bytes in UTF-8, so the staged name stays within the 255 bytes or
    // units that file systems allow, however long the target's name is.
    constexpr int keptUnits = 64;
    int kept = qMin(fileName.size(), keptUnits);
    if (kept < fileName.size() && fileName.at(kept - 1).isHighSurrogate())
        --kept;
    return QLatin1Char('.') + fileName.left(kept) + QLatin1String(stagedInfix) +
           QLatin1String("XXXXXX");
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
        result.otherErrors = result.errors;
        return result;
    }
    case Lock::Unavailable:
        // A working directory that takes no lock file takes no error file
        // either; the update itself may still work, so it goes on, but
        // without the lock it leaves other runs' staged files alone.
        Installation::logError("Error. Can't create lock file ", lockPath);
        pass.setMayRemoveLeftovers(false);
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
