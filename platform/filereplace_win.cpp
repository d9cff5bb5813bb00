#include "platform/filereplace_win_p.h"

#include <windows.h>

namespace Platform {

namespace {

// Whether an "access denied" from the move means that the old file is held
// rather than forbidden to us: a running program's image refuses to be
// replaced, yet may be opened for deletion, which a file we have no right to
// delete may not.
bool deniedBecauseHeld(const wchar_t *target)
{
    const HANDLE handle =
        CreateFileW(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(handle);
    return true;
}

bool isHeld(DWORD error, const wchar_t *target)
{
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return true;
    case ERROR_ACCESS_DENIED:
        return deniedBecauseHeld(target);
    default:
        return false;
    }
}

} // namespace

Replacement replaceFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error)
{
    // A read-only installed file is replaced like any other, as it is on
    // Linux; the attribute only keeps it from being written to.
    const DWORD attributes = GetFileAttributesW(to);
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                          (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (readOnly) {
        const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(to, writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Replacement::Done;
    const DWORD failure = GetLastError();
    *error = failure;
    const Replacement outcome = isHeld(failure, to) ? Replacement::Busy : Replacement::Refused;
    // The old file stays exactly as it was, attribute included.
    if (readOnly)
        SetFileAttributesW(to, attributes);
    return outcome;
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
