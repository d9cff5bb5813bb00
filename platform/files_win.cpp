#include "platform/files.h"

#include "platform/filereplace_win_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include <string>

namespace Platform {

bool isPathSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

bool runningProgramIsHeld()
{
    return true;
}

namespace {

// Not every MinGW-w64 header names it.
constexpr DWORD directoryNotSupported = 336; // ERROR_DIRECTORY_NOT_SUPPORTED

SystemError errorOf(DWORD code)
{
    return systemError(static_cast<int>(code));
}

// Every path this file hands to the system: a long one gets the form that
// passes MAX_PATH without the system's long-path opt-in.
std::wstring nativePath(const QString &path)
{
    return longPathForm(path).toStdWString();
}

// A descriptor that owns the open handle, as QFile::open(int) takes it; the
// C runtime's error when it has none left, the handle then closed.
Result<int> descriptorOf(HANDLE handle)
{
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor >= 0)
        return descriptor;
    const SystemError error = runtimeError(errno);
    CloseHandle(handle);
    return error;
}

} // namespace

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes)
{
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || info.size() > maxBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.read(maxBytes + 1);
    if (content.size() > maxBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return content;
}

Result<int> openRegularFileForWriting(const QString &path)
{
    // A link (a reparse point) is opened as itself and refused; a device
    // name is no file on the disk.
    const HANDLE handle =
        CreateFileW(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError();
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool regular =
        GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) &&
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
    if (!regular || !SetEndOfFile(handle)) {
        const SystemError error = regular ? lastSystemError() : notRegularFileError();
        CloseHandle(handle);
        return error;
    }
    return descriptorOf(handle);
}

Failure writeAll(int descriptor, const char *data, qint64 size)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    for (qint64 written = 0; written < size;) {
        DWORD now = 0;
        const DWORD chunk = DWORD(qMin<qint64>(size - written, 1 << 30));
        if (!WriteFile(handle, data + written, chunk, &now, nullptr))
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
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor))))
        return std::nullopt;
    return lastSystemError();
}

Failure closeFile(int descriptor)
{
    if (_close(descriptor) == 0)
        return std::nullopt;
    return runtimeError(errno);
}

SystemError notRegularFileError()
{
    return ownError(QStringLiteral("Not a regular file"));
}

Result<int> createNewFile(const QString &path)
{
    // Shared for deletion, so that the file can be renamed while it is open.
    const HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError();
    const Result<int> descriptor = descriptorOf(handle);
    if (!descriptor.ok())
        DeleteFileW(nativePath(path).c_str());
    return descriptor;
}

bool isNameTaken(const SystemError &error)
{
    return error.code == ERROR_FILE_EXISTS || error.code == ERROR_ALREADY_EXISTS;
}

ReplaceOutcome replaceFile(const QString &from, const QString &to)
{
    unsigned long error = 0;
    const Replacement outcome =
        replaceFileWin(nativePath(from).c_str(), nativePath(to).c_str(), &error);
    if (outcome == Replacement::Done)
        return {};
    return {outcome, errorOf(error)};
}

Failure replaceAside(const QString &from, const QString &to, const QString &aside)
{
    unsigned long error = 0;
    if (replaceAsideWin(nativePath(from).c_str(), nativePath(to).c_str(), nativePath(aside).c_str(),
                        &error))
        return std::nullopt;
    return errorOf(error);
}

Failure renameFile(const QString &from, const QString &to)
{
    unsigned long error = 0;
    if (renameFileWin(nativePath(from).c_str(), nativePath(to).c_str(), &error))
        return std::nullopt;
    return errorOf(error);
}

Result<KernelCopy> copyContent(int, int)
{
    return KernelCopy::Unsupported;
}

QList<PathError> flushFiles(const QStringList &paths)
{
    QList<PathError> missed;
    for (const QString &path : paths) {
        unsigned long error = 0;
        if (!flushFileWin(nativePath(path).c_str(), &error))
            missed.append({path, errorOf(error)});
    }
    return missed;
}

Failure flushDirectory(const QString &)
{
    // The move is written through (MOVEFILE_WRITE_THROUGH): the new name is on
    // the disk when it returns.
    return std::nullopt;
}

Result<int> lockFile(const QString &path)
{
    // Shared in every way: the lock, not the sharing, keeps others out.
    const HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError();
    OVERLAPPED whole = {};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &whole)) {
        const SystemError error = lastSystemError();
        CloseHandle(handle);
        return error;
    }
    return descriptorOf(handle);
}

bool isLockHeld(const SystemError &error)
{
    return error.code == ERROR_LOCK_VIOLATION;
}

SystemError isDirectoryError()
{
    return errorOf(directoryNotSupported);
}

FileLock fileLockState(const QString &)
{
    return FileLock::Unknown;
}

Failure removeUnheldFile(const QString &path)
{
    // A process that holds the file open without delete sharing, on this
    // machine or on one that shares it, makes the deletion fail; the system
    // closes its handles when it ends.
    if (DeleteFileW(nativePath(path).c_str()))
        return std::nullopt;
    return lastSystemError();
}

int holdFileLock(int, const QString &, bool *lost)
{
    *lost = false;
    return -1;
}

std::optional<unsigned> permissionBits(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return attributes & FILE_ATTRIBUTE_READONLY ? 0555u : 0777u;
}

Failure setPermissionBits(const QString &path, unsigned mode)
{
    const std::wstring native = nativePath(path);
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastSystemError();
    const DWORD wanted = mode & 0200 ? attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)
                                     : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == attributes || SetFileAttributesW(native.c_str(), wanted))
        return std::nullopt;
    return lastSystemError();
}

bool isHeldByOther(const QString &path)
{
    // Asks for no more than any sharing lets through but a holder that
    // shares neither writing nor deletion.
    const HANDLE handle = CreateFileW(
        nativePath(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

} // namespace Platform
