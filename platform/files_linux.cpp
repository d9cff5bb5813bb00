#include "platform/files.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

bool isPathSeparator(QChar c)
{
    return c == QLatin1Char('/');
}

bool runningProgramIsHeld()
{
    // A running executable keeps its old content when its name is replaced.
    return false;
}

namespace {

// A target that is mounted on, or an executable being written, may be free
// again in a moment; everything else rename() reports stays as it is.
bool mayGoAway(int error)
{
    return error == EBUSY || error == ETXTBSY || error == EAGAIN || error == EINTR;
}

} // namespace

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes)
{
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    std::optional<QByteArray> content;
    struct stat status = {};
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size <= maxBytes) {
        // Read to the end, not to the size: a file may grow meanwhile, and
        // the kernel's own files tell no size at all.
        QByteArray bytes;
        bytes.reserve(int(status.st_size));
        char block[65536];
        ssize_t now = 0;
        while (bytes.size() <= maxBytes &&
               ((now = ::read(descriptor, block, sizeof block)) > 0 || (now < 0 && errno == EINTR)))
            bytes.append(block, int(qMax<ssize_t>(now, 0)));
        if (now == 0 && bytes.size() <= maxBytes)
            content = bytes;
    }
    ::close(descriptor);
    return content;
}

Result<int> openRegularFileForWriting(const QString &path)
{
    // O_NOFOLLOW: a link is refused, never written through; O_NONBLOCK:
    // opening a FIFO would wait for a reader. Emptied only once it is known
    // to be a regular file.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        // A link (ELOOP) or a FIFO that nobody reads (ENXIO).
        return errno == ELOOP || errno == ENXIO ? notRegularFileError() : lastSystemError();
    }
    struct stat status = {};
    const bool known = ::fstat(descriptor, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        const SystemError error = known ? notRegularFileError() : lastSystemError();
        ::close(descriptor);
        return error;
    }
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (::ftruncate(descriptor, 0) != 0 || flags < 0 ||
        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const SystemError error = lastSystemError();
        ::close(descriptor);
        return error;
    }
    return descriptor;
}

Failure writeAll(int descriptor, const char *data, qint64 size)
{
    for (qint64 written = 0; written < size;) {
        const ssize_t now = ::write(descriptor, data + written, size_t(size - written));
        if (now < 0 && errno == EINTR)
            continue;
        if (now < 0)
            return lastSystemError();
        // A write of nothing names no error of the system's.
        if (now == 0)
            return ownError(QStringLiteral("Nothing could be written"));
        written += now;
    }
    return std::nullopt;
}

Failure flushFile(int descriptor)
{
    if (::fsync(descriptor) == 0)
        return std::nullopt;
    return lastSystemError();
}

Failure closeFile(int descriptor)
{
    if (::close(descriptor) == 0 || errno == EINTR)
        return std::nullopt;
    return lastSystemError();
}

SystemError notRegularFileError()
{
    return ownError(QStringLiteral("Not a regular file"));
}

Result<int> createNewFile(const QString &path)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return lastSystemError();
    return descriptor;
}

bool isNameTaken(const SystemError &error)
{
    return error.code == EEXIST;
}

ReplaceOutcome replaceFile(const QString &from, const QString &to)
{
    // rename() replaces the name in one step, also that of a running
    // executable, which keeps its old content for as long as it runs.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    const SystemError error = lastSystemError();
    return {mayGoAway(error.code) ? Replacement::Busy : Replacement::Refused, error};
}

Failure replaceAside(const QString &from, const QString &to, const QString &aside)
{
    // Not needed here, where replaceFile() never reports HeldAsImage: the
    // same renames all the same.
    if (Failure failed = renameFile(to, aside))
        return failed;
    Failure failed = renameFile(from, to);
    if (failed)
        (void)renameFile(aside, to);
    return failed;
}

Failure renameFile(const QString &from, const QString &to)
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                    QFile::encodeName(to).constData(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    return lastSystemError();
}

Result<KernelCopy> copyContent(int fromDescriptor, int toDescriptor)
{
    bool copied = false;
    for (;;) {
        const ssize_t done =
            ::copy_file_range(fromDescriptor, nullptr, toDescriptor, nullptr, 1 << 30, 0);
        if (done > 0) {
            copied = true;
            continue;
        }
        if (done == 0) {
            // The disk starts writing the file while the next one is copied,
            // so the flush before the renames has less left to wait for.
            ::sync_file_range(toDescriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
            return KernelCopy::Done;
        }
        if (errno == EINTR)
            continue;
        // Older kernels and some file systems cannot; then nothing was copied.
        if (!copied && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                        errno == EOPNOTSUPP || errno == EBADF))
            return KernelCopy::Unsupported;
        return lastSystemError();
    }
}

QList<PathError> flushFiles(const QStringList &paths)
{
    // syncfs writes out the data and the metadata (the permissions given to
    // a new version included) of every file on the file system in one go:
    // once per file system, however many files were staged on it. A file
    // system whose flush failed is not flushed again: a second syncfs would
    // not report the writes that failed once more.
    QSet<dev_t> flushed;
    QHash<dev_t, SystemError> failed;
    QList<PathError> missed;
    for (const QString &path : paths) {
        const QByteArray name = QFile::encodeName(path);
        struct stat status = {};
        if (::stat(name.constData(), &status) != 0) {
            missed.append({path, lastSystemError()});
            continue;
        }
        if (flushed.contains(status.st_dev))
            continue;
        if (failed.contains(status.st_dev)) {
            missed.append({path, failed.value(status.st_dev)});
            continue;
        }
        const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        const bool done = descriptor >= 0 && ::syncfs(descriptor) == 0;
        const SystemError error = lastSystemError();
        if (descriptor >= 0)
            ::close(descriptor);
        if (done) {
            flushed.insert(status.st_dev);
            continue;
        }
        failed.insert(status.st_dev, error);
        missed.append({path, error});
    }
    return missed;
}

Failure flushDirectory(const QString &path)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return lastSystemError();
    Failure failed;
    if (::fsync(descriptor) != 0)
        failed = lastSystemError();
    ::close(descriptor);
    return failed;
}

SystemError isDirectoryError()
{
    return systemError(EISDIR);
}

namespace {

// Opens a regular file for a look at its lock: never through a link, never
// waiting on a FIFO. Written where that may be, since an NFS client takes an
// exclusive lock only on a file open for writing.
int openForLock(const QByteArray &name, bool *writable)
{
    constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int descriptor = ::open(name.constData(), O_RDWR | flags);
    *writable = descriptor >= 0;
    if (descriptor < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        descriptor = ::open(name.constData(), O_RDONLY | flags);
    struct stat status = {};
    if (descriptor >= 0 && (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(descriptor);
        errno = EINVAL;
        return -1;
    }
    return descriptor;
}

int tryFlock(int descriptor, int operation)
{
    int result;
    while ((result = ::flock(descriptor, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return result;
}

} // namespace

Result<int> lockFile(const QString &path)
{
    bool writable = false;
    const int descriptor = openForLock(QFile::encodeName(path), &writable);
    if (descriptor < 0)
        return errno == EINVAL || errno == ELOOP ? notRegularFileError() : lastSystemError();
    if (tryFlock(descriptor, LOCK_EX) == 0)
        return descriptor;
    const SystemError error = lastSystemError();
    ::close(descriptor);
    return error;
}

bool isLockHeld(const SystemError &error)
{
    return error.code == EWOULDBLOCK;
}

FileLock fileLockState(const QString &path)
{
    bool writable = false;
    const int descriptor = openForLock(QFile::encodeName(path), &writable);
    if (descriptor < 0)
        return FileLock::Unknown;
    // A shared lock is refused while anybody holds the exclusive one, and is
    // let go again at once with the descriptor.
    const int result = tryFlock(descriptor, LOCK_SH);
    const int error = errno;
    ::close(descriptor);
    if (result == 0)
        return FileLock::Free;
    return error == EWOULDBLOCK ? FileLock::Held : FileLock::Unknown;
}

Failure removeUnheldFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    bool writable = false;
    const int descriptor = openForLock(name, &writable);
    if (descriptor < 0)
        return errno == EINVAL || errno == ELOOP ? notRegularFileError() : lastSystemError();
    // Exclusive, so that no other run removes it meanwhile; an NFS client
    // gives that only on a file open for writing, and a shared lock then
    // still proves that its holder has gone.
    int result = tryFlock(descriptor, LOCK_EX);
    if (result != 0 && errno == EBADF && !writable)
        result = tryFlock(descriptor, LOCK_SH);
    const int lockError = errno;
    struct stat locked = {};
    struct stat named = {};
    Failure failed;
    if (result != 0) {
        failed = lockError == EWOULDBLOCK
                     ? SystemError{lockError, QStringLiteral("Held by a running process")}
                     : systemError(lockError);
    } else if (::fstat(descriptor, &locked) != 0 || ::lstat(name.constData(), &named) != 0 ||
               locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
        // Another run removed it already, and a new file may have its name.
        failed = systemError(ENOENT);
    } else if (::unlink(name.constData()) != 0) {
        failed = lastSystemError();
    }
    ::close(descriptor);
    return failed;
}

int holdFileLock(int descriptor, const QString &path, bool *lost)
{
    *lost = false;
    // The lock belongs to the open file, which the copy shares.
    const int held = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (held < 0)
        return -1;
    if (tryFlock(held, LOCK_EX) != 0) {
        // Held by a run that is removing it as a leftover.
        *lost = errno == EWOULDBLOCK;
        ::close(held);
        return -1;
    }
    struct stat locked = {};
    struct stat named = {};
    if (::fstat(held, &locked) != 0 || ::lstat(QFile::encodeName(path).constData(), &named) != 0 ||
        locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
        *lost = true;
        ::close(held);
        return -1;
    }
    return held;
}

std::optional<unsigned> permissionBits(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return unsigned(status.st_mode & 07777);
}

Failure setPermissionBits(const QString &path, unsigned mode)
{
    if (::fchmodat(AT_FDCWD, QFile::encodeName(path).constData(), mode_t(mode),
                   AT_SYMLINK_NOFOLLOW) == 0)
        return std::nullopt;
    return lastSystemError();
}

bool isHeldByOther(const QString &)
{
    return false;
}

} // namespace Platform
