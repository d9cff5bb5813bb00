#include "update/recovery.h"

#include "installation/installation.h"
#include "platform/files.h"
#include "platform/process.h"
#include "update/deferredcopy.h"
#include "update/errorreport.h"
#include "update/paths.h"
#include "update/replacement.h"
#include "update/stagedfile.h"
#include "update/updatelock.h"
#include "update/updaterecord.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QScopeGuard>

#include <optional>

namespace Update {

namespace {

// Whether the two files hold the same bytes. A target that is no regular file
// never holds a new version.
bool sameContent(const QString &targetPath, const QString &sourcePath)
{
    const QFileInfo target(targetPath);
    const QFileInfo source(sourcePath);
    if (!target.isFile() || !source.isFile() || target.size() != source.size())
        return false;
    QFile a(targetPath);
    QFile b(sourcePath);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 block = 1 << 16;
    while (!a.atEnd() || !b.atEnd()) {
        const QByteArray x = a.read(block);
        if (x.isEmpty() || x != b.read(block))
            return false;
    }
    return a.error() == QFileDevice::NoError && b.error() == QFileDevice::NoError;
}

class Finisher
{
public:
    Finisher(int waitMs)
        : m_waitMs(waitMs)
    {
    }

    void finish(const RecordEntry &entry);
    void flushDirectories();
    Recovery &outcome() { return m_outcome; }
    const QStringList &directories() const { return m_directories; }
    int replaced() const { return m_replaced; }

private:
    bool giveName(const QString &stagedPath, const RecordEntry &entry);
    void copyAgain(const RecordEntry &entry);

    int m_waitMs;
    Recovery m_outcome;
    QStringList m_directories;
    QStringList m_touched; // the directories that received new names
    int m_replaced = 0;
};

void Finisher::finish(const RecordEntry &entry)
{
    const QString directory = directoryOf(entry.targetPath);
    if (!directory.isEmpty() && !m_directories.contains(directory))
        m_directories.append(directory);
    // A staged file was flushed before the record was; one that is not the
    // size of its source all the same (a disk that lost its write cache) is
    // made again.
    const QFileInfo staged(entry.stagedPath);
    const QFileInfo source(entry.sourcePath);
    if (!entry.stagedPath.isEmpty() && staged.isFile()) {
        if (!source.isFile() || staged.size() == source.size()) {
            giveName(entry.stagedPath, entry);
            return;
        }
        QFile::remove(entry.stagedPath);
    }
    if (!sameContent(entry.targetPath, entry.sourcePath))
        copyAgain(entry);
}

bool Finisher::giveName(const QString &stagedPath, const RecordEntry &entry)
{
    if (const Platform::Failure failed =
            replaceStagedFile(stagedPath, entry.targetPath, m_waitMs, renameAttempts)) {
        QFile::remove(stagedPath);
        m_outcome.errors.append(cannotRemove(entry.targetPath, failed->text));
        return false;
    }
    ++m_replaced;
    const QString directory = directoryOf(entry.targetPath);
    if (!m_touched.contains(directory))
        m_touched.append(directory);
    return true;
}

void Finisher::copyAgain(const RecordEntry &entry)
{
    const QFileInfo source(entry.sourcePath);
    if (!source.exists()) {
        m_outcome.errors.append(missingSource(entry.sourcePath));
        return;
    }
    if (!source.isFile()) {
        m_outcome.errors.append(cannotCopy(
            entry.sourcePath,
            (source.isDir() ? Platform::isDirectoryError() : Platform::notRegularFileError())
                .text));
        return;
    }
    const Platform::Result<StagedFile> staged =
        copyToStaged(entry.sourcePath, directoryOf(entry.targetPath), fileNameOf(entry.targetPath));
    if (!staged.ok()) {
        m_outcome.errors.append(cannotCopy(entry.sourcePath, staged.error().text));
        return;
    }
    // Held until it has the target's name or is gone, as in the pass.
    const int held = staged.value().lock;
    const auto release = qScopeGuard([held] {
        if (held >= 0)
            (void)Platform::closeFile(held);
    });
    const QList<Platform::PathError> unflushed = Platform::flushFiles({staged.value().path});
    if (!unflushed.isEmpty()) {
        QFile::remove(staged.value().path);
        m_outcome.errors.append(cannotCopy(entry.sourcePath, unflushed.first().error.text));
        return;
    }
    giveName(staged.value().path, entry);
}

void Finisher::flushDirectories()
{
    for (const QString &directory : qAsConst(m_touched)) {
        if (const Platform::Failure failed = Platform::flushDirectory(directory))
            m_outcome.errors.append(cannotCopy(directory, failed->text));
    }
}

} // namespace

bool recordedCopyRunsAt(const QString &recordPath)
{
    if (!QFileInfo::exists(recordPath))
        return false;
    const std::optional<UpdateRecord> record = readRecord(recordPath);
    return recordedCopyRuns(recordPath, record ? record->host : QString(),
                            record ? record->writer : 0);
}

Recovery finishRecordedUpdate(const QString &workDir, int waitMs)
{
    const QString path = recordFilePath(workDir);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    Finisher finisher(waitMs);
    const std::optional<UpdateRecord> record = readRecord(path);
    if (!record) {
        finisher.outcome().errors.append(unreadableRecord(path));
    } else if (record->state == UpdateRecord::State::Staging) {
        for (const RecordEntry &entry : record->entries) {
            const QString directory = directoryOf(entry.targetPath);
            if (QFileInfo(directory).isDir())
                removeLeftovers(directory);
        }
        finisher.outcome().diagnostics.append(
            QStringLiteral("Undid the update cut short while it staged, recorded in ") + path);
    } else {
        for (const RecordEntry &entry : record->entries)
            finisher.finish(entry);
        finisher.flushDirectories();
        // The deferred copy's report is this one now: the failures it was to
        // report first, then what is still not done.
        QList<UpdateError> reported;
        for (const QString &message : record->otherErrors)
            reported.append(recorded(message));
        finisher.outcome().errors = reported + finisher.outcome().errors;
        if (record->handedOver && finisher.outcome().errors.isEmpty())
            QFile::remove(errorFilePath(workDir));
        for (const QString &directory : finisher.directories())
            removeLeftovers(directory);
        if (finisher.outcome().errors.isEmpty())
            finisher.outcome().diagnostics.append(
                QStringLiteral("Finished the update cut short, recorded in %1: %2 of %3 files "
                               "were still to be replaced")
                    .arg(path)
                    .arg(finisher.replaced())
                    .arg(record->entries.size()));
    }
    // Reported once, whatever happened: the next start does not try again.
    if (const Platform::Failure failed = removeRecord(workDir))
        finisher.outcome().diagnostics.append(QStringLiteral("Error. Can't remove ") + path +
                                              QStringLiteral(": ") + failed->text);
    return finisher.outcome();
}

void finishInterruptedUpdate(const QString &workDir, const QProcessEnvironment &environment)
{
    const QString recordPath = recordFilePath(workDir);
    if (!QFileInfo::exists(recordPath))
        return;
    const QString lockPath = lockFilePath(workDir);
    QLockFile lock(lockPath);
    // Another run that holds the lock, or a deferred copy that runs, is the
    // update itself, which will finish.
    const Platform::Result<Lock> taken = takeLock(lock, lockPath, 0);
    if (!taken.ok() || taken.value() != Lock::Held) {
        Installation::logError("Error. An update cut short waits to be finished, but its lock is "
                               "in use: ",
                               recordPath);
        return;
    }
    if (recordedCopyRunsAt(recordPath))
        return;
    const Recovery recovery = finishRecordedUpdate(workDir, renameWaitMs);
    for (const QString &line : recovery.diagnostics)
        qDebug() << line;
    if (recovery.errors.isEmpty())
        return;
    const QStringList messages = errorMessages(recovery.errors);
    for (const QString &message : messages)
        qDebug() << message;
    const QString errorFile = errorFilePath(workDir);
    if (writeErrorFile(errorFile, messages) == Installation::Ok &&
        Platform::startEditor(errorFile, environment))
        Installation::logError("Error. Can't open err file in editor ", errorFile);
}

} // namespace Update
