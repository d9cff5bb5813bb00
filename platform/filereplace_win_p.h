#ifndef ORVANE_FILEREPLACE_WIN_P_H
#define ORVANE_FILEREPLACE_WIN_P_H

// Replacing an installed file in one step on Windows, in the Windows API's
// own terms; files_win.cpp turns the error codes into texts. Not for
// users outside the platform layer.

#include "platform/files.h"

namespace Platform {

// Moves from over to in one step (MoveFileExW, written through), clearing a
// read-only attribute of the old file first; the moved file keeps its own
// attributes. On failure *error holds the system's error code and the old
// file is as it was.
Replacement replaceFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error);

// Writes what the system holds of the closed file at path through to the
// disk (FlushFileBuffers). On failure *error holds the system's error code.
bool flushFileWin(const wchar_t *path, unsigned long *error);

} // namespace Platform

#endif // ORVANE_FILEREPLACE_WIN_P_H
