#ifndef ORVANE_PLATFORM_FILEREPLACE_WIN_P_H
#define ORVANE_PLATFORM_FILEREPLACE_WIN_P_H

// Replacing an installed file in one step on Windows, in the Windows API's
// own terms; files_win.cpp turns the error codes into texts. Free of Qt, so
// that a test driver compiles it on its own with MinGW-w64. Not for users
// outside the platform layer.

#include "platform/replacementresult.h"

namespace Platform {

// Moves from over to in one step (MoveFileExW, written through), clearing a
// read-only attribute of the old file first; the moved file keeps its own
// attributes. On failure *error holds the system's error code and the old
// file is as it was.
Replacement replaceFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error);

// replaceAside() (files.h): to is renamed to aside, from takes the name to,
// and when it cannot, to gets its name and its attributes back. On failure
// *error holds the system's error code of the step that failed.
bool replaceAsideWin(const wchar_t *from, const wchar_t *to, const wchar_t *aside,
                     unsigned long *error);

// renameFile() (files.h): a move that replaces nothing.
bool renameFileWin(const wchar_t *from, const wchar_t *to, unsigned long *error);

// Writes what the system holds of the closed file at path through to the
// disk (FlushFileBuffers). On failure *error holds the system's error code.
bool flushFileWin(const wchar_t *path, unsigned long *error);

} // namespace Platform

#endif // ORVANE_PLATFORM_FILEREPLACE_WIN_P_H
