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
    QString reason;
    if (!replaceStagedFile(stagedPath, entry.targetPath, m_waitMs, renameAttempts, &reason)) {
        QFile::remove(stagedPath);
        m_outcome.errors.append(cannotRemoveMessage(entry.targetPath, reason));
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
        m_outcome.errors.append(missingSourceMessage(entry.sourcePath));
        return;
    }
    if (!source.isFile()) {
        m_outcome.errors.append(
            cannotCopyMessage(entry.sourcePath, source.isDir() ? Platform::isDirectoryText()
                                                               : Platform::notRegularFileText()));
        return;
    }
    QString reason;
    int held = -1;
    const QString staged = copyToStaged(entry.sourcePath, directoryOf(entry.targetPath),
                                        fileNameOf(entry.targetPath), &reason, &held);
    // Held until it has the target's name or is gone, as in the pass.
    const auto release = qScopeGuard([held] {
        QString ignored;
        if (held >= 0)
            Platform::closeFile(held, &ignored);
    });
    if (staged.isEmpty()) {
        m_outcome.errors.append(cannotCopyMessage(entry.sourcePath, reason));
        return;
    }
    if (!Platform::flushFiles({staged}, &reason)) {
        QFile::remove(staged);
        m_outcome.errors.append(cannotCopyMessage(entry.sourcePath, reason));
        return;
    }
    giveName(staged, entry);
}

void Finisher::flushDirectories()
{
    for (const QString &directory : qAsConst(m_touched)) {
        QString reason;
        if (!Platform::flushDirectory(directory, &reason))
            m_outcome.errors.append(cannotCopyMessage(directory, reason));
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
        finisher.outcome().errors.append(unreadableRecordMessage(path));
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
        finisher.outcome().errors = record->otherErrors + finisher.outcome().errors;
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
    QString reason;
    if (!removeRecord(workDir, &reason))
        finisher.outcome().diagnostics.append(QStringLiteral("Error. Can't remove ") + path +
                                              QStringLiteral(": ") + reason);
    return finisher.outcome();
}

void finishInterruptedUpdate(const QString &workDir, const QProcessEnvironment &environment)
{
    const QString recordPath = recordFilePath(workDir);
    if (!QFileInfo::exists(recordPath))
        return;
    const QString lockPath = lockFilePath(workDir);
    QLockFile lock(lockPath);
    QString reason;
    // Another run that holds the lock, or a deferred copy that runs, is the
    // update itself, which will finish.
    if (takeLock(lock, lockPath, 0, &reason) != Lock::Held) {
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
    for (const QString &message : recovery.errors)
        qDebug() << message;
    const QString errorFile = errorFilePath(workDir);
    if (writeErrorFile(errorFile, recovery.errors) == Installation::Ok &&
        !Platform::startEditor(errorFile, environment))
        Installation::logError("Error. Can't open err file in editor ", errorFile);
}

} // namespace Update
