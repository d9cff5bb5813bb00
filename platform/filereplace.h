#ifndef ORVANE_FILEREPLACE_H
#define ORVANE_FILEREPLACE_H

// Replacing an installed file in one step. The Windows half is kept free of
// Qt so that it compiles on its own with MinGW-w64.

namespace Platform {

// How an attempt to give a file another file's name turned out.
enum class Replacement {
    Done,
    // The target is held by someone (a running program, an open handle, a
    // lock): this usually goes away, so the attempt is worth repeating.
    Busy,
    // Waiting does not help: no permission, a read-only or full file system,
    // a directory in the way.
    Refused,
};

#ifdef _WIN32
// Moves from over to in one step (MoveFileExW, written through), clearing a
// read-only attribute of the old file first; the moved file keeps its own
// attributes. On failure *error holds the system's error code and the old
// file is as it was.
Replacement replaceFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error);

// Writes what the system holds of the closed file at path through to the
// disk (FlushFileBuffers). On failure *error holds the system's error code.
bool flushFileWin(const wchar_t *path, unsigned long *error);
#endif

} // namespace Platform

#endif // ORVANE_FILEREPLACE_H
