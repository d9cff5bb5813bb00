#include "platform/filereplace_win_p.h"

#include <windows.h>

namespace Platform {

namespace {

// What an "access denied" from the move means. A running program's image or
// a loaded library refuses to be replaced or removed, yet may be opened for
// deletion, which lets it be renamed; a file we have no right to delete may
// not be opened so. One that somebody holds open without sharing it for
// deletion cannot be opened at all, and may be free in a moment.
Replacement deniedOutcome(const wchar_t *target)
{
    const HANDLE handle =
        CreateFileW(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED ? Replacement::Refused : Replacement::Busy;
    CloseHandle(handle);
    return Replacement::HeldAsImage;
}

Replacement outcome(DWORD error, const wchar_t *target)
{
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return Replacement::Busy;
    case ERROR_ACCESS_DENIED:
        return deniedOutcome(target);
    default:
        return Replacement::Refused;
    }
}

// A read-only installed file is replaced like any other, as it is on Linux;
// the attribute only keeps it from being written to. Returns the attributes
// to give back if the file stays, or INVALID_FILE_ATTRIBUTES when nothing
// was changed.
DWORD clearReadOnly(const wchar_t *path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return INVALID_FILE_ATTRIBUTES;
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(path, writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
    return attributes;
}

void giveBack(const wchar_t *path, DWORD attributes)
{
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(path, attributes);
}

} // namespace

Replacement replaceFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error)
{
    const DWORD attributes = clearReadOnly(to);
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Replacement::Done;
    const DWORD failure = GetLastError();
    *error = failure;
    const Replacement result = outcome(failure, to);
    // The old file stays exactly as it was, attribute included.
    giveBack(to, attributes);
    return result;
}

bool replaceAsideWin(const wchar_t *from, const wchar_t *to, const wchar_t *aside,
                     unsigned long *error)
{
    // The old file goes aside writable, so that it can be removed once it
    // is released.
    const DWORD attributes = clearReadOnly(to);
    if (!MoveFileExW(to, aside, MOVEFILE_WRITE_THROUGH)) {
        *error = GetLastError();
        giveBack(to, attributes);
        return false;
    }
    // The name is free now; should anybody have taken it meanwhile, that
    // file is not replaced.
    if (MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH))
        return true;
    *error = GetLastError();
    if (MoveFileExW(aside, to, MOVEFILE_WRITE_THROUGH))
        giveBack(to, attributes);
    return false;
}

bool renameFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error)
{
    if (MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH))
        return true;
    *error = GetLastError();
    return false;
}

bool flushFileWin(const wchar_t *path, unsigned long *error)
{
    // FlushFileBuffers needs a handle with write access.
    const HANDLE handle =
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    const bool flushed = FlushFileBuffers(handle) != 0;
    if (!flushed)
        *error = GetLastError();
    CloseHandle(handle);
    return flushed;
}

} // namespace Platform
