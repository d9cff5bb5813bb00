#include "update/replacement.h"

#include "platform/files.h"
#include "platform/process.h"
#include "update/errorreport.h"
#include "update/paths.h"
#include "update/permissions.h"
#include "update/recovery.h"
#include "update/stagedfile.h"
#include "update/updaterecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSet>
#include <QSysInfo>
#include <QTimer>

/*
  How an installation file is replaced, and why this way.

  The user's installation must never be left worse than it was found: at
  every instant, even when the program is killed or the power goes, each
  installed name holds its complete old or its complete new version, and
  nothing that failed is called a success.

  - Every new version is first copied beside its target as a staged file
    (".<name>.orvane-new-XXXXXX", stagedfile.h): in the same directory, so
    that the final rename stays on one file system and replaces the name in
    one step. Linux copies inside the kernel and starts the writeback at
    once.
  - All staged files are flushed before any takes a target's name: one
    syncfs per file system on Linux (one journal commit for all files, not
    one per file), FlushFileBuffers per file on Windows. A flush that fails
    uses no staged file, since after a power cut its name could hold an
    empty file; one file's failure costs no other.
  - On Windows on-access scanners, indexers and backup clients open each
    new file for a moment without sharing it: a staged file held so is
    waited for like a held target, in its flush, its rename and its
    removal. One that still cannot be removed is removed by the next run
    that holds the lock.
  - Then each staged file is renamed over its target. A running program or
    a loaded library on Windows cannot be replaced, but renamed: it steps
    aside in its own directory (".<name>.orvane-old-XXXXXX"), the staged
    file takes the name, and should that fail the old file gets its name
    back. A target held otherwise (mounted on, open without delete sharing)
    is tried again a few times; a refusal that waiting cannot change is not.
    What cannot be replaced now is left to the deferred copy
    (deferredcopy.h), which runs after the program has ended, the same way:
    copied beside the target, flushed, renamed over it, the directory
    flushed.
  - Last, every directory that received new names is flushed, so that the
    names themselves survive a power cut. A directory that cannot be flushed
    makes each new name in it a failure: the file is in place, but may not
    stay so after a power cut, which is no success.
  - One pass at a time holds Orvane.lock in the working directory
    (updatelock.h). Only the holder removes staged files that a killed run
    left behind: no other run can be writing them then, but for a run with
    another working directory (another machine's, on a share), which holds
    the lock of each staged file it writes until the file has its name. It also removes old
    versions set aside once they are released, and gives one whose name is
    free its name back: a run killed between the two renames loses nothing.
*/

namespace Update {

namespace {

// Waits without a busy loop; no window is open, so nothing else is handled.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Gives the staged file the name of a target that is a running program or a
// loaded library: the old version steps aside in its own directory, under a
// name that tells what it is, until a later run removes it. When no aside
// name fits, the replacement's own refusal stands.
Platform::Failure replaceAside(const QString &stagedPath, const QString &targetPath,
                               const Platform::SystemError &refusal)
{
    const QString asideName = asideFileName(fileNameOf(targetPath));
    if (asideName.isEmpty())
        return refusal;
    return Platform::replaceAside(stagedPath, targetPath,
                                  directoryOf(targetPath) + QLatin1Char('/') + asideName);
}

} // namespace

Platform::Failure replaceStagedFile(const QString &stagedPath, const QString &targetPath,
                                    int waitMs, int attempts)
{
    for (int attempt = 1;; ++attempt) {
        bool retry = false;
        const Platform::ReplaceOutcome replaced = Platform::replaceFile(stagedPath, targetPath);
        Platform::Failure failed = replaced.error;
        switch (replaced.replacement) {
        case Platform::Replacement::Done:
            return std::nullopt;
        case Platform::Replacement::Refused:
            break;
        case Platform::Replacement::HeldAsImage:
            // Waiting would not free it, nor is it needed.
            failed = replaceAside(stagedPath, targetPath, replaced.error);
            if (!failed)
                return std::nullopt;
            break;
        case Platform::Replacement::Busy:
            retry = true;
            break;
        }
        const bool stagedHeld = Platform::isHeldByOther(stagedPath);
        if (!retry && !stagedHeld)
            return failed;
        const int allowed = stagedHeld ? qMax(attempts, renameAttempts) : attempts;
        // A single attempt is made at once, with nothing to wait for.
        if (allowed > 1)
            wait(waitMs);
        if (attempt >= allowed)
            return failed;
    }
}

// Flushes a staged file whose flush failed again, while somebody else holds
// it, which kept the flush from opening it. A flush that failed otherwise is
// not repeated: a second one may not report what the first did. Returns
// nothing once it is flushed, else the latest failure, first the one given.
Platform::Failure flushOnceReleased(const QString &stagedPath, int waitMs,
                                    const Platform::SystemError &first)
{
    Platform::SystemError latest = first;
    for (int attempt = 1; attempt < renameAttempts && Platform::isHeldByOther(stagedPath);
         ++attempt) {
        wait(waitMs);
        const QList<Platform::PathError> missed = Platform::flushFiles({stagedPath});
        if (missed.isEmpty())
            return std::nullopt;
        latest = missed.first().error;
    }
    return latest;
}

// Removes a staged file that is no longer needed, trying again while
// somebody else holds it. One that still cannot be removed is left to the
// next run that holds the lock, which removes every staged file it finds.
void removeStaged(const QString &stagedPath, int waitMs)
{
    for (int attempt = 1; !QFile::remove(stagedPath) && QFileInfo::exists(stagedPath); ++attempt) {
        if (attempt == renameAttempts || !Platform::isHeldByOther(stagedPath))
            return;
        wait(waitMs);
    }
}

namespace {

// The most staged files whose locks a pass holds at once.
constexpr int maxHeldLocks = 256;

// One name of the pass: what it stands for and how it ended.
struct Entry
{
    QString targetPath;
    QString sourcePath;
    QString directory;   // the target's, where the staged file stands
    QString stagedPath;  // the new version beside the target, until it has the target's name
    int stagedLock = -1; // holds the staged file's lock (copyToStaged)
    std::optional<UpdateError> failure;
    bool pending = false;  // the failure leaves the file to the deferred copy
    bool replaced = false; // the new version has the target's name
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
    void addDiagnostic(const QString &line) { m_diagnostics.append(line); }
    // A failure that comes before the names (the update cut short before).
    void addError(const UpdateError &error) { m_earlierErrors.append(error); }

    void stage(const QString &name);
    void flushStaged();
    // What the record says once the staged files are on the disk.
    UpdateRecord readyRecord() const;
    // No target changes: every staged file is removed, and every name that
    // was to be replaced fails with this reason, with nothing pending.
    void abandon(const Platform::SystemError &error);
    void replaceStaged();
    void flushDirectories();
    // The messages and the pending copies, in the order of the names.
    PassResult result() const;

private:
    void createDirectories(const QString &directory);
    static void releaseStaged(Entry &entry);
    void givePermissions(const QStringList &missing);
    void removeLeftovers(const QString &directory);
    void addChangedDirectory(const QString &directory);
    bool nameDependsOn(const Entry &entry, const QString &directory) const;

    QString m_appDir;
    QString m_workDir;
    int m_waitMs;
    QFileInfo m_ownProgram;
    bool m_mayRemoveLeftovers = true;
    int m_heldLocks = 0;
    QSet<QString> m_cleaned;
    QSet<QString> m_created; // directories this pass created
    QList<Entry> m_entries;
    QStringList m_changedDirectories; // directories that received new names
    QStringList m_diagnostics;
    QList<UpdateError> m_earlierErrors;
};

void Pass::stage(const QString &name)
{
    m_entries.append(Entry());
    Entry &entry = m_entries.last();
    entry.targetPath = m_appDir + QLatin1Char('/') + name;
    entry.sourcePath = m_workDir + QLatin1Char('/') + name + QLatin1Char('_');

    const QFileInfo sourceInfo(entry.sourcePath);
    if (!sourceInfo.exists()) {
        entry.failure = missingSource(entry.sourcePath);
        return;
    }
    // No file can take a directory's name, now or later: reported at once,
    // and nothing is left for the deferred copy, which would put the file
    // inside the directory and restart the program as if it were updated.
    // A name that ends in a separator can only ever be a directory's.
    const QFileInfo targetInfo(entry.targetPath);
    if (Platform::isPathSeparator(name.isEmpty() ? QChar() : name.back()) ||
        (targetInfo.isDir() && !targetInfo.isSymLink())) {
        entry.failure = cannotRemove(entry.targetPath, Platform::isDirectoryError().text);
        return;
    }
    // Only a file is a new version, now or later: a directory cannot be
    // copied, opening a FIFO would wait for a writer that never comes, with
    // the lock held, and a device or a socket holds no version either.
    if (!sourceInfo.isFile()) {
        entry.failure =
            cannotCopy(entry.sourcePath, (sourceInfo.isDir() ? Platform::isDirectoryError()
                                                             : Platform::notRegularFileError())
                                             .text);
        return;
    }

    const QString created = createdDirectoryOf(entry.targetPath);
    if (!QDir(created).exists())
        createDirectories(created);
    entry.directory = directoryOf(entry.targetPath);
    removeLeftovers(entry.directory);

    const Platform::Result<StagedFile> staged =
        copyToStaged(entry.sourcePath, entry.directory, fileNameOf(entry.targetPath));
    if (staged.ok()) {
        entry.stagedPath = staged.value().path;
        entry.stagedLock = staged.value().lock;
    } else {
        entry.failure = cannotCopy(entry.sourcePath, staged.error().text);
        entry.pending = true;
    }
    // Each held lock is an open descriptor: beyond this many, a staged file
    // is locked only while it is written, so that a long list of names never
    // runs out of descriptors.
    if (entry.stagedLock >= 0 && ++m_heldLocks > maxHeldLocks) {
        (void)Platform::closeFile(entry.stagedLock);
        entry.stagedLock = -1;
    }
}

void Pass::flushStaged()
{
    QStringList paths;
    for (const Entry &entry : qAsConst(m_entries)) {
        if (!entry.stagedPath.isEmpty())
            paths.append(entry.stagedPath);
    }
    const QList<Platform::PathError> unflushed = Platform::flushFiles(paths);
    if (unflushed.isEmpty())
        return;
    // One file's trouble costs no other, and a file somebody holds for a
    // moment is waited for. A new version that may not be on the disk takes
    // no installed file's place: after a power cut the name could hold an
    // empty file.
    QHash<QString, Platform::SystemError> errors;
    for (const Platform::PathError &missed : unflushed)
        errors.insert(missed.path, missed.error);
    for (Entry &entry : m_entries) {
        if (entry.stagedPath.isEmpty() || !errors.contains(entry.stagedPath))
            continue;
        const Platform::Failure failed =
            flushOnceReleased(entry.stagedPath, m_waitMs, errors.value(entry.stagedPath));
        if (!failed)
            continue;
        removeStaged(entry.stagedPath, m_waitMs);
        releaseStaged(entry);
        entry.failure = cannotCopy(entry.sourcePath, failed->text);
        entry.pending = true;
    }
}

UpdateRecord Pass::readyRecord() const
{
    UpdateRecord record;
    record.state = UpdateRecord::State::Ready;
    for (const Entry &entry : m_entries) {
        if (!entry.stagedPath.isEmpty() || entry.pending)
            record.entries.append({entry.targetPath, entry.stagedPath, entry.sourcePath});
    }
    return record;
}

void Pass::abandon(const Platform::SystemError &error)
{
    for (Entry &entry : m_entries) {
        if (entry.stagedPath.isEmpty() && !entry.pending)
            continue;
        if (!entry.stagedPath.isEmpty())
            QFile::remove(entry.stagedPath);
        releaseStaged(entry);
        entry.failure = cannotCopy(entry.sourcePath, error.text);
        entry.pending = false;
    }
}

// The staged file has the target's name or is gone: its lock goes too.
void Pass::releaseStaged(Entry &entry)
{
    entry.stagedPath.clear();
    if (entry.stagedLock >= 0)
        (void)Platform::closeFile(entry.stagedLock);
    entry.stagedLock = -1;
}

void Pass::replaceStaged()
{
    for (Entry &entry : m_entries) {
        if (entry.stagedPath.isEmpty())
            continue;
        // The running program holds its own executable on Windows for as
        // long as it runs: should it not step aside, waiting cannot free it,
        // the deferred copy can.
        const int attempts =
            Platform::runningProgramIsHeld() && QFileInfo(entry.targetPath) == m_ownProgram
                ? 1
                : renameAttempts;
        const Platform::Failure failed =
            replaceStagedFile(entry.stagedPath, entry.targetPath, m_waitMs, attempts);
        if (!failed) {
            entry.replaced = true;
            addChangedDirectory(entry.directory);
        } else {
            removeStaged(entry.stagedPath, m_waitMs);
            entry.failure = cannotRemove(entry.targetPath, failed->text);
            entry.pending = true;
        }
        releaseStaged(entry);
    }
}

// Whether the new name of entry survives a power cut only once directory is
// flushed: its own directory, or the parent of a directory created for it.
bool Pass::nameDependsOn(const Entry &entry, const QString &directory) const
{
    for (QString path = entry.directory;; path = createdDirectoryOf(path)) {
        if (path == directory)
            return true;
        if (!m_created.contains(path))
            return false;
    }
}

void Pass::flushDirectories()
{
    for (const QString &directory : qAsConst(m_changedDirectories)) {
        const Platform::Failure failed = Platform::flushDirectory(directory);
        if (!failed)
            continue;
        m_diagnostics.append(QStringLiteral("Error. Can't flush directory ") + directory +
                             QStringLiteral(": ") + failed->text);
        for (Entry &entry : m_entries) {
            if (entry.replaced && !entry.failure && nameDependsOn(entry, directory))
                entry.failure = cannotCopy(entry.sourcePath, failed->text);
        }
    }
}

PassResult Pass::result() const
{
    PassResult result;
    result.errors = m_earlierErrors;
    result.otherErrors = m_earlierErrors;
    for (const Entry &entry : m_entries) {
        if (entry.failure)
            result.errors.append(*entry.failure);
        if (entry.failure && !entry.pending)
            result.otherErrors.append(*entry.failure);
        if (entry.pending)
            result.pending.append({entry.targetPath, entry.sourcePath});
    }
    result.diagnostics = m_diagnostics;
    return result;
}

void Pass::createDirectories(const QString &directory)
{
    QStringList missing;
    for (QString path = directory; !path.isEmpty() && !QFileInfo::exists(path);
         path = createdDirectoryOf(path))
        missing.append(path);
    QDir().mkpath(directory);
    givePermissions(missing);
    // A new directory is a new name in its parent.
    for (const QString &path : qAsConst(missing)) {
        m_created.insert(path);
        addChangedDirectory(createdDirectoryOf(path));
    }
}

// Created directories take their parent's permissions (permissions.h), not
// the umask's, outermost first; missing lists them innermost first.
void Pass::givePermissions(const QStringList &missing)
{
    for (auto it = missing.crbegin(); it != missing.crend(); ++it) {
        const std::optional<unsigned> parent = Platform::permissionBits(createdDirectoryOf(*it));
        if (!parent || !QFileInfo(*it).isDir())
            continue;
        if (const Platform::Failure failed =
                Platform::setPermissionBits(*it, createdDirectoryMode(*parent)))
            m_diagnostics.append(QStringLiteral("Error. Can't set permissions of ") + *it +
                                 QStringLiteral(": ") + failed->text);
    }
}

void Pass::removeLeftovers(const QString &directory)
{
    if (!m_mayRemoveLeftovers || m_cleaned.contains(directory))
        return;
    m_cleaned.insert(directory);
    Update::removeLeftovers(directory);
}

void Pass::addChangedDirectory(const QString &directory)
{
    if (!directory.isEmpty() && !m_changedDirectories.contains(directory))
        m_changedDirectories.append(directory);
}

} // namespace

namespace {

// How often a run that waits looks again.
constexpr int lockPollMs = 250;

// The deferred copy of the record at recordPath is in the way.
PassResult otherUpdateResult(const QString &workDir, const QString &recordPath)
{
    const std::optional<UpdateRecord> record = readRecord(recordPath);
    PassResult result;
    result.errors.append(otherUpdate(workDir, recordPath, record ? record->host : QString(),
                                     record ? record->writer : 0));
    result.otherErrors = result.errors;
    return result;
}

// The record, naming this run as its writer.
Platform::Failure writeRecordOfThisRun(const QString &workDir, UpdateRecord *record)
{
    record->host = QSysInfo::machineHostName();
    record->writer = QCoreApplication::applicationPid();
    return writeRecord(workDir, *record);
}

} // namespace

// Staged files of a run that was killed are removed by the next run that
// holds the lock: no other run of this working directory can be writing them
// then, and a run of another machine that shares the installation holds the
// lock of the staged file it writes. So are the temporary files of a
// deferred copy that was killed, once its interpreter has certainly ended, on
// this machine or on another that shares the installation
// (deferredCopyMayUse), and old versions set aside, once nobody runs them any
// more; one still in use stays for a later run. One whose name is free was
// left by a run killed between its two renames: it gets its name back before
// anything else.
void removeLeftovers(const QString &directory)
{
    QDir dir(directory);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &entry : entries) {
        const QString target = asideTargetName(entry);
        if (!target.isEmpty() && Platform::renameFile(dir.filePath(entry), dir.filePath(target)) &&
            QFileInfo::exists(dir.filePath(target)))
            dir.remove(entry);
    }
    for (const QString &entry : entries) {
        qint64 chain = 0;
        QString host;
        if (isStagedFileName(entry))
            (void)Platform::removeUnheldFile(dir.filePath(entry));
        else if (isDeferredCopyFileName(entry, &chain, &host) &&
                 !deferredCopyMayUse(dir.filePath(entry), chain, host))
            dir.remove(entry);
    }
}

PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs, int lockWait)
{
    Pass pass(appDir, workDir, waitMs);
    if (names.isEmpty())
        return pass.result();

    const QString lockPath = lockFilePath(workDir);
    auto lock = std::make_shared<QLockFile>(lockPath);
    QElapsedTimer waited;
    waited.start();
    const Platform::Result<Lock> taken = takeLock(*lock, lockPath, lockWait);
    const bool takenByOther = taken.ok() && taken.value() == Lock::TakenByOther;
    // A deferred copy that runs holds the installation as the lock does:
    // whatever it copies must not end up over a newer version.
    const QString recordPath = recordFilePath(workDir);
    for (bool told = false; !takenByOther && recordedCopyRunsAt(recordPath); told = true) {
        if (!told)
            pass.addDiagnostic(QStringLiteral("Waiting for the deferred copy of the update "
                                              "recorded in ") +
                               recordPath);
        if (waited.elapsed() >= lockWait) {
            lock->unlock();
            return otherUpdateResult(workDir, recordPath);
        }
        wait(qMin<int>(lockPollMs, lockWait));
    }
    if (takenByOther) {
        PassResult result;
        const LockHolder holder = lockHolder(*lock);
        result.errors.append(otherUpdate(workDir, lockPath, holder.host, holder.pid));
        result.otherErrors = result.errors;
        return result;
    }
    if (taken.ok()) {
        const Recovery recovery = finishRecordedUpdate(workDir, waitMs);
        for (const UpdateError &error : recovery.errors)
            pass.addError(error);
        for (const QString &line : recovery.diagnostics)
            pass.addDiagnostic(line);
        removeAbandonedReports(workDir);
    } else {
        // A working directory that takes no lock file takes no error file
        // either; the update itself may still work, so it goes on, but
        // without the lock it leaves other runs' files alone: their staged
        // files, and the record of an update cut short.
        pass.addDiagnostic(QStringLiteral("Error. Can't create lock file ") + lockPath +
                           QStringLiteral(": ") + taken.error().text);
        pass.setMayRemoveLeftovers(false);
    }

    // While it stages, an update cut short is undone by the next start: no
    // target has changed yet.
    UpdateRecord staging;
    for (const QString &name : names)
        staging.entries.append({appDir + QLatin1Char('/') + name, QString(),
                                workDir + QLatin1Char('/') + name + QLatin1Char('_')});
    if (const Platform::Failure failed = writeRecordOfThisRun(workDir, &staging)) {
        for (const QString &name : names)
            pass.addError(
                cannotCopy(workDir + QLatin1Char('/') + name + QLatin1Char('_'), failed->text));
        return pass.result();
    }
    for (const QString &name : names)
        pass.stage(name);
    pass.flushStaged();
    // From here on it is finished.
    UpdateRecord ready = pass.readyRecord();
    if (const Platform::Failure failed = writeRecordOfThisRun(workDir, &ready))
        pass.abandon(*failed);
    else
        pass.replaceStaged();
    // Before the program reports success or restarts: after a power cut the
    // names must hold the new versions.
    pass.flushDirectories();
    PassResult result = pass.result();
    result.lock = lock;
    result.workDir = workDir;
    result.recorded = true;
    result.record = ready;
    return result;
}

} // namespace Update
