#include "update/shellchain.h"

#include "platform/files.h"
#include "platform/process.h"

#include "shellchain_script.h"

#include <QDateTime>
#include <QFileInfo>

namespace Update {

namespace {

// How long a chain may take from creating its temporary file to locking it.
constexpr qint64 unlockedFileAgeMs = 5000;

} // namespace

// /bin/sh with GNU coreutils ("cp -T", "chmod --reference", "sync FILE").
Platform::Failure startShellChain(const DeferredCopy &copy, const QProcessEnvironment &environment)
{
    // The desktop's opener as the program would start it: found on PATH's
    // absolute directories only.
    const QString editor = Platform::findProgram(QStringLiteral("xdg-open"), environment);
    const QStringList arguments = deferredCopyShellArguments(copy, editor);
    if (copy.recordFile.isEmpty())
        return Platform::startDetached(QStringLiteral("/bin/sh"), arguments, environment);
    // The shell holds the update through its copy of this opening of the
    // record, locked, until it has removed the record.
    const Platform::Result<int> record = Platform::lockFile(copy.recordFile);
    if (!record.ok())
        return record.error();
    Platform::Failure failed = Platform::startDetachedHandingOn(
        QStringLiteral("/bin/sh"), arguments, environment, record.value());
    (void)Platform::closeFile(record.value());
    return failed;
}

bool shellChainOfRecordRuns(const QString &recordPath)
{
    // A shell that runs holds the lock, on this machine or another that
    // shares the directory; one that has ended, however, holds nothing.
    return Platform::fileLockState(recordPath) == Platform::FileLock::Held;
}

bool shellChainRuns(qint64 chain)
{
    // The chain's temporary files carry its shell's id; the shell names
    // itself by its $0, so an id given again to another program does not
    // count.
    return Platform::processRunsWith(chain, deferredCopyMark);
}

bool shellChainMayUse(const QString &path, qint64 chain)
{
    if (chain != 0 && shellChainRuns(chain))
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

QStringList deferredCopyShellArguments(const DeferredCopy &copy, const QString &editor)
{
    // shellchain.sh says what the arguments are.
    static const QString script = QString::fromUtf8(shellChainScript);
    QStringList arguments{QStringLiteral("-c"),
                          script,
                          QLatin1String(deferredCopyMark),
                          copy.restartProgram,
                          copy.startDirectory,
                          copy.errorFile,
                          copy.otherErrors.join(QLatin1String("\r\n")),
                          editor,
                          copy.recordFile,
                          QLatin1String(temporaryFilePrefix)};
    const QStringList messages = notCopiedMessages(copy.copies, 0);
    for (int i = 0; i < copy.copies.size(); ++i)
        arguments << copy.copies.at(i).source << copy.copies.at(i).target << messages.at(i);
    return arguments;
}

} // namespace Update
