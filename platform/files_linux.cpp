#include "platform/files.h"

#include <QFile>
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

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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

int openRegularFileForWriting(const QString &path, QString *reason)
{
    // O_NOFOLLOW: a link is refused, never written through; O_NONBLOCK:
    // opening a FIFO would wait for a reader. Emptied only once it is known
    // to be a regular file.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        // A link (ELOOP) or a FIFO that nobody reads (ENXIO).
        *reason = errno == ELOOP || errno == ENXIO ? notRegularFileText() : errorText(errno);
        return -1;
    }
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        *reason = notRegularFileText();
        ::close(descriptor);
        return -1;
    }
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (::ftruncate(descriptor, 0) != 0 || flags < 0 ||
        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *reason = errorText(errno);
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

bool writeAll(int descriptor, const char *data, qint64 size, QString *reason)
{
    for (qint64 written = 0; written < size;) {
        const ssize_t now = ::write(descriptor, data + written, size_t(size - written));
        if (now < 0 && errno == EINTR)
            continue;
        if (now <= 0) {
            *reason = errorText(now < 0 ? errno : EIO);
            return false;
        }
        written += now;
    }
    return true;
}

bool flushFile(int descriptor, QString *reason)
{
    if (::fsync(descriptor) == 0)
        return true;
    *reason = errorText(errno);
    return false;
}

bool closeFile(int descriptor, QString *reason)
{
    if (::close(descriptor) == 0 || errno == EINTR)
        return true;
    *reason = errorText(errno);
    return false;
}

QString notRegularFileText()
{
    return QStringLiteral("Not a regular file");
}

int createNewFile(const QString &path, bool *nameTaken, QString *reason)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        *nameTaken = errno == EEXIST;
        *reason = errorText(errno);
    }
    return descriptor;
}

Replacement replaceFile(const QString &from, const QString &to, QString *reason)
{
    // rename() replaces the name in one step, also that of a running
    // executable, which keeps its old content for as long as it runs.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return Replacement::Done;
    const int error = errno;
    *reason = errorText(error);
    return mayGoAway(error) ? Replacement::Busy : Replacement::Refused;
}

bool replaceAside(const QString &from, const QString &to, const QString &aside, QString *reason)
{
    // Not needed here, where replaceFile() never reports HeldAsImage: the
    // same renames all the same.
    if (!renameFile(to, aside, reason))
        return false;
    if (renameFile(from, to, reason))
        return true;
    QString ignored;
    renameFile(aside, to, &ignored);
    return false;
}

bool renameFile(const QString &from, const QString &to, QString *reason)
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                    QFile::encodeName(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    *reason = errorText(errno);
    return false;
}

KernelCopy copyContent(int fromDescriptor, int toDescriptor, QString *reason)
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
        *reason = errorText(errno);
        return KernelCopy::Failed;
    }
}

bool flushFiles(const QStringList &paths, QString *reason, QStringList *unflushed)
{
    // syncfs writes out the data and the metadata (the permissions given to
    // a new version included) of every file on the file system in one go:
    // once per file system, however many files were staged on it. A file
    // system whose flush failed is not flushed again: a second syncfs would
    // not report the writes that failed once more.
    QSet<dev_t> flushed;
    QSet<dev_t> failed;
    QStringList missed;
    for (const QString &path : paths) {
        const QByteArray name = QFile::encodeName(path);
        struct stat status = {};
        if (::stat(name.constData(), &status) != 0) {
            *reason = errorText(errno);
            missed.append(path);
            continue;
        }
        if (flushed.contains(status.st_dev))
            continue;
        if (failed.contains(status.st_dev)) {
            missed.append(path);
            continue;
        }
        const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        const bool done = descriptor >= 0 && ::syncfs(descriptor) == 0;
        const int error = errno;
        if (descriptor >= 0)
            ::close(descriptor);
        if (done) {
            flushed.insert(status.st_dev);
            continue;
        }
        *reason = errorText(error);
        failed.insert(status.st_dev);
        missed.append(path);
    }
    if (unflushed)
        *unflushed = missed;
    return missed.isEmpty();
}

bool flushDirectory(const QString &path, QString *reason)
{
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        *reason = errorText(errno);
        return false;
    }
    const bool synced = ::fsync(descriptor) == 0;
    if (!synced)
        *reason = errorText(errno);
    ::close(descriptor);
    return synced;
}

QString isDirectoryText()
{
    return errorText(EISDIR);
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

int lockFile(const QString &path, bool *heldByOther, QString *reason)
{
    *heldByOther = false;
    bool writable = false;
    const int descriptor = openForLock(QFile::encodeName(path), &writable);
    if (descriptor < 0) {
        *reason = errno == EINVAL || errno == ELOOP ? notRegularFileText() : errorText(errno);
        return -1;
    }
    if (tryFlock(descriptor, LOCK_EX) == 0)
        return descriptor;
    const int error = errno;
    *heldByOther = error == EWOULDBLOCK;
    *reason = errorText(error);
    ::close(descriptor);
    return -1;
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

bool removeUnheldFile(const QString &path, QString *reason)
{
    const QByteArray name = QFile::encodeName(path);
    bool writable = false;
    const int descriptor = openForLock(name, &writable);
    if (descriptor < 0) {
        *reason = errno == EINVAL || errno == ELOOP ? notRegularFileText() : errorText(errno);
        return false;
    }
    // Exclusive, so that no other run removes it meanwhile; an NFS client
    // gives that only on a file open for writing, and a shared lock then
    // still proves that its holder has gone.
    int result = tryFlock(descriptor, LOCK_EX);
    if (result != 0 && errno == EBADF && !writable)
        result = tryFlock(descriptor, LOCK_SH);
    const int lockError = errno;
    struct stat locked = {};
    struct stat named = {};
    bool removed = false;
    if (result != 0) {
        *reason = lockError == EWOULDBLOCK ? QStringLiteral("Held by a running process")
                                           : errorText(lockError);
    } else if (::fstat(descriptor, &locked) != 0 || ::lstat(name.constData(), &named) != 0 ||
               locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
        // Another run removed it already, and a new file may have its name.
        *reason = errorText(ENOENT);
    } else {
        removed = ::unlink(name.constData()) == 0;
        if (!removed)
            *reason = errorText(errno);
    }
    ::close(descriptor);
    return removed;
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

bool setPermissionBits(const QString &path, unsigned mode, QString *reason)
{
    if (::fchmodat(AT_FDCWD, QFile::encodeName(path).constData(), mode_t(mode),
                   AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    *reason = errorText(errno);
    return false;
}

bool isHeldByOther(const QString &)
{
    return false;
}

} // namespace Platform
