#include "platform/files.h"

#include "platform/filereplace_win_p.h"

#include <QDir>

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

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

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

bool flushFiles(const QStringList &paths, QString *reason)
{
    for (const QString &path : paths) {
        unsigned long error = 0;
        if (!flushFileWin(nativePath(path).c_str(), &error)) {
            *reason = errorText(error);
            return false;
        }
    }
    return true;
}

bool syncDirectory(const QString &, QString *)
{
    // The move is written through (MOVEFILE_WRITE_THROUGH): the new name is on
    // the disk when it returns.
    return true;
}

QString isDirectoryText()
{
    return errorText(directoryNotSupported);
}

} // namespace Platform
