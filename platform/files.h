#ifndef ORVANE_PLATFORM_FILES_H
#define ORVANE_PLATFORM_FILES_H

#include "platform/replacementresult.h"
#include "platform/systemerror.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Installation files replaced in one step and made durable: files_win.cpp,
// files_linux.cpp (it uses calls only Linux has: copy_file_range, syncfs,
// sync_file_range). A call that fails hands its error back with its result
// (systemerror.h), taken at once, before anything else can change it.
namespace Platform {

// Whether c separates directories in a path as the system reads it: "/"
// everywhere, on Windows "\\" too.
bool isPathSeparator(QChar c);

// Whether a running program holds its own executable so that no other file
// can replace it while it runs (Windows); it may still be renamed aside.
bool runningProgramIsHeld();

// The content of the regular file at path (a link to one counts), read
// without waiting for anybody: a FIFO, a device or a directory is no such
// file and is never read. std::nullopt when there is none, when it cannot be
// read, or when it holds more than maxBytes, which no real file of its kind
// does (a link to /dev/zero would otherwise be read until memory runs out).
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes);

// Opens the file at path for writing, created when missing, emptied when it
// is a regular file, without waiting for anybody and never through a link:
// anything but a regular file (a FIFO, a device, a link, a directory) is
// refused. Returns a descriptor that QFile::open(int) takes, or the error
// (our own for a file of the wrong kind).
Result<int> openRegularFileForWriting(const QString &path);

// Writes all of data to the open file descriptor (as openRegularFileForWriting
// and createNewFile give), going on after a short write until the system
// names its error.
Failure writeAll(int descriptor, const char *data, qint64 size);

// Writes what the system holds of the open file through to the disk (fsync,
// FlushFileBuffers).
Failure flushFile(int descriptor);

// Closes the descriptor; a failure that the close reports (a file system
// that writes late) comes back.
Failure closeFile(int descriptor);

// Gives the file at path this content in one step: written whole beside it
// under a new name, flushed, then renamed over it, so that the name holds the
// old or the new content at every instant, and whatever had the name (a
// link, a FIFO) is replaced, never written through. On failure the old file
// is as it was and nothing is left beside it.
Failure writeFileInOneStep(const QString &path, const QByteArray &content);

// The error for a file of the wrong kind: a FIFO, a device, a socket or a
// link. Ours: the system sees nothing wrong with such a file.
SystemError notRegularFileError();

// Creates the file at path, which must not exist yet, open for writing and
// for its owner alone until it is given its permissions, and returns its
// descriptor, one that QFile::open(int) and writeAll take, or the error
// (isNameTaken() tells whether a file of that name was in the way).
Result<int> createNewFile(const QString &path);

// Whether the error says that a file of the name to be created exists.
bool isNameTaken(const SystemError &error);

// How replaceFile() went: Done, or how it failed and why.
struct ReplaceOutcome
{
    Replacement replacement = Replacement::Done;
    SystemError error;
};

// Gives the file at from the name to in one step, replacing the file that
// had it, so that to names the complete old or the complete new file at every
// instant. On failure the old file is left as it was.
ReplaceOutcome replaceFile(const QString &from, const QString &to);

// For a target that is HeldAsImage: renames to to aside, a name no file has
// in the same directory, then gives from the name to. When that second step
// fails, the old file gets its name back, so that to names the complete old
// or the complete new file at every instant but the one between the two
// renames. Returns nothing once from has the name.
Failure replaceAside(const QString &from, const QString &to, const QString &aside);

// Gives the file at from the name to, which no file may have: one that has
// it is left alone, and the rename fails.
Failure renameFile(const QString &from, const QString &to);

// How a copy inside the kernel went, when it did not fail.
enum class KernelCopy { Done, Unsupported };

// Copies the whole content of the open file fromDescriptor, from its start,
// into the open, empty file toDescriptor without passing it through this
// process, where the system can (Linux: copy_file_range). Unsupported when
// it cannot and nothing was copied; the error when the copy failed (a full
// disk, say).
Result<KernelCopy> copyContent(int fromDescriptor, int toDescriptor);

// A path and why a call about it failed.
struct PathError
{
    QString path;
    SystemError error;
};

// Writes the content of these files, written and closed, through to the
// disk, so that none can take another file's name before it is there. Where
// the system can, one flush of each file system serves all its files (Linux:
// syncfs, one journal commit rather than one per file); elsewhere each file
// is flushed (Windows: FlushFileBuffers). Returns the paths whose content
// may not be on the disk, each with its error, in order; none when all are:
// one file's trouble costs no file whose flush worked (on Linux, none on
// another file system).
QList<PathError> flushFiles(const QStringList &paths);

// Makes the names that directory gained survive a power cut; a no-op where
// the file system does that with the rename itself.
Failure flushDirectory(const QString &path);

// Opens the regular file at path (never through a link, never waiting for a
// FIFO) and takes an exclusive lock on it without waiting. The lock lasts for
// as long as this opening stays open, in this process or in a child that
// inherited the descriptor, and ends with the last of them, however they end
// (Linux: flock; Windows: LockFileEx; a file share releases it when its
// client dies). Returns the descriptor, which closeFile releases, or the
// error; isLockHeld() tells whether another opening holds the lock.
Result<int> lockFile(const QString &path);

// Whether the error says that another opening holds a file's lock.
bool isLockHeld(const SystemError &error);

// The system's error for an operation that expects a file and meets a
// directory.
SystemError isDirectoryError();

// Whether some process, on this machine or on another one that shares the
// file, holds a lock on the file at path: Qt's lock file and the Linux
// deferred copy's temporary file hold flock(2) on their file for as long as
// their process lives, and a file share releases it once its client has
// ended (an NFS lease, an SMB session). Unknown where that cannot be told
// (the file system keeps no locks, the file cannot be opened, or it is no
// regular file). Windows: always Unknown, the system's share modes answer
// there instead (removeUnheldFile).
enum class FileLock { Held, Free, Unknown };
FileLock fileLockState(const QString &path);

// Removes the regular file at path only when nobody holds it: on Linux while
// this process itself holds the file's lock, and only when the name still
// names the file it locked, so that of two runs that remove one abandoned
// file, neither can remove the new file a third made in its place; on
// Windows a file another process holds open without delete sharing (as Qt's
// lock file is held) is not removed. Returns nothing once it was removed,
// else why not (with our text when somebody holds it).
Failure removeUnheldFile(const QString &path);

// Takes the lock of the file open as descriptor, just created at path (as
// fileLockState() sees it), and holds it until the returned descriptor is
// closed (closeFile), also once descriptor itself is closed. Returns -1
// where the system keeps no locks, and always on Windows, where a file held
// open could not be renamed; then also with *lost when another run took the
// file for a leftover and removed it (removeUnheldFile) before it was locked:
// the name is no longer the caller's.
int holdFileLock(int descriptor, const QString &path, bool *lost);

// The permission bits of the file or directory at path (a link's target),
// as Unix has them (07777); Windows: 0777, without the write bits for a
// read-only file. std::nullopt when it cannot be read.
std::optional<unsigned> permissionBits(const QString &path);

// Gives the file or directory at path these permission bits, never through
// a link (a link there is refused). Windows: only the read-only attribute,
// taken from the owner's write bit.
Failure setPermissionBits(const QString &path, unsigned mode);

// Whether somebody else holds the file at path open without sharing it for
// writing or deletion, as on-access scanners, indexers and backup clients do
// with a new file for a moment (Windows): a flush, a rename or a removal of
// it fails meanwhile, and may work a moment later. Always false on Linux,
// where an open file stands in nobody's way.
bool isHeldByOther(const QString &path);

// The form of an absolute path that the Windows API takes beyond MAX_PATH:
// backslashes, "." and ".." resolved, and "\\?\" in front
// ("\\?\UNC\server\share\..." for a share), once the path is long
// enough to need it (from MAX_PATH - 12 units on, where a directory's path
// ends); shorter ones, relative ones and those already in a device form
// keep their own, with backslashes. Pure, so that it is the same everywhere.
QString longPathForm(const QString &path);

} // namespace Platform

#endif // ORVANE_PLATFORM_FILES_H
