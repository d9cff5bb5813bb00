#include "platform/files.h"

#include "platform/filereplace_win_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

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

QString errorText(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = length != 0 && text != nullptr
                          ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                          : QStringLiteral("Windows error %1").arg(error);
    LocalFree(text);
    return message;
}

// Every path this file hands to the system: a long one gets the form that
// passes MAX_PATH without the system's long-path opt-in.
std::wstring nativePath(const QString &path)
{
    return longPathForm(path).toStdWString();
}

// A descriptor that owns the open handle, as QFile::open(int) takes it; -1
// with the reason when none is left, the handle then closed.
int descriptorOf(HANDLE handle, QString *reason)
{
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        *reason = errorText(ERROR_TOO_MANY_OPEN_FILES);
        CloseHandle(handle);
    }
    return descriptor;
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

int openRegularFileForWriting(const QString &path, QString *reason)
{
    // A link (a reparse point) is opened as itself and refused; a device
    // name is no file on the disk.
    const HANDLE handle =
        CreateFileW(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *reason = errorText(GetLastError());
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool regular =
        GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) &&
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
    if (!regular || !SetEndOfFile(handle)) {
        *reason = regular ? errorText(GetLastError()) : notRegularFileText();
        CloseHandle(handle);
        return -1;
    }
    return descriptorOf(handle, reason);
}

bool writeAll(int descriptor, const char *data, qint64 size, QString *reason)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    for (qint64 written = 0; written < size;) {
        DWORD now = 0;
        const DWORD chunk = DWORD(qMin<qint64>(size - written, 1 << 30));
        if (!WriteFile(handle, data + written, chunk, &now, nullptr) || now == 0) {
            *reason = errorText(now == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT
                                                                            : GetLastError());
            return false;
        }
        written += now;
    }
    return true;
}

bool flushFile(int descriptor, QString *reason)
{
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor))))
        return true;
    *reason = errorText(GetLastError());
    return false;
}

bool closeFile(int descriptor, QString *reason)
{
    if (_close(descriptor) == 0)
        return true;
    *reason = errorText(ERROR_WRITE_FAULT);
    return false;
}

QString notRegularFileText()
{
    return QStringLiteral("Not a regular file");
}

int createNewFile(const QString &path, bool *nameTaken, QString *reason)
{
    // Shared for deletion, so that the file can be renamed while it is open.
    const HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *nameTaken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        *reason = errorText(error);
        return -1;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        *nameTaken = false;
        *reason = errorText(ERROR_TOO_MANY_OPEN_FILES);
        CloseHandle(handle);
        DeleteFileW(nativePath(path).c_str());
    }
    return descriptor;
}

Replacement replaceFile(const QString &from, const QString &to, QString *reason)
{
    unsigned long error = 0;
    const Replacement outcome =
        replaceFileWin(nativePath(from).c_str(), nativePath(to).c_str(), &error);
    if (outcome != Replacement::Done)
        *reason = errorText(error);
    return outcome;
}

bool replaceAside(const QString &from, const QString &to, const QString &aside, QString *reason)
{
    unsigned long error = 0;
    if (replaceAsideWin(nativePath(from).c_str(), nativePath(to).c_str(), nativePath(aside).c_str(),
                        &error))
        return true;
    *reason = errorText(error);
    return false;
}

bool renameFile(const QString &from, const QString &to, QString *reason)
{
    unsigned long error = 0;
    if (renameFileWin(nativePath(from).c_str(), nativePath(to).c_str(), &error))
        return true;
    *reason = errorText(error);
    return false;
}

KernelCopy copyContent(int, int, QString *)
{
    return KernelCopy::Unsupported;
}

bool flushFiles(const QStringList &paths, QString *reason, QStringList *unflushed)
{
    QStringList missed;
    for (const QString &path : paths) {
        unsigned long error = 0;
        if (!flushFileWin(nativePath(path).c_str(), &error)) {
            *reason = errorText(error);
            missed.append(path);
        }
    }
    if (unflushed)
        *unflushed = missed;
    return missed.isEmpty();
}

bool flushDirectory(const QString &, QString *)
{
    // The move is written through (MOVEFILE_WRITE_THROUGH): the new name is on
    // the disk when it returns.
    return true;
}

int lockFile(const QString &path, bool *heldByOther, QString *reason)
{
    *heldByOther = false;
    // Shared in every way: the lock, not the sharing, keeps others out.
    const HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *reason = errorText(GetLastError());
        return -1;
    }
    OVERLAPPED whole = {};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &whole)) {
        const DWORD error = GetLastError();
        *heldByOther = error == ERROR_LOCK_VIOLATION;
        *reason = errorText(error);
        CloseHandle(handle);
        return -1;
    }
    return descriptorOf(handle, reason);
}

QString isDirectoryText()
{
    return errorText(directoryNotSupported);
}

FileLock fileLockState(const QString &)
{
    return FileLock::Unknown;
}

bool removeUnheldFile(const QString &path, QString *reason)
{
    // A process that holds the file open without delete sharing, on this
    // machine or on one that shares it, makes the deletion fail; the system
    // closes its handles when it ends.
    if (DeleteFileW(nativePath(path).c_str()))
        return true;
    *reason = errorText(GetLastError());
    return false;
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

bool setPermissionBits(const QString &path, unsigned mode, QString *reason)
{
    const std::wstring native = nativePath(path);
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *reason = errorText(GetLastError());
        return false;
    }
    const DWORD wanted = mode & 0200 ? attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)
                                     : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == attributes || SetFileAttributesW(native.c_str(), wanted))
        return true;
    *reason = errorText(GetLastError());
    return false;
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
