#ifndef ORVANE_PLATFORM_HIDDENPROCESS_H
#define ORVANE_PLATFORM_HIDDENPROCESS_H

// Starting a command line hidden through the Windows API. Kept free of Qt so
// that the Windows test driver compiles it on its own with MinGW-w64.

#include <cstddef>

namespace Platform {

// CreateProcessW needs a writable command line; Orvane copies it into a
// buffer of this many UTF-16 code units, the terminating NUL included.
constexpr std::size_t commandBufferUnits = 1000;

// True when a command line of this many UTF-16 code units, plus its NUL,
// fits the command buffer.
constexpr bool fitsCommandBuffer(std::size_t units)
{
    return units < commandBufferUnits;
}

#ifdef _WIN32
// Starts the system's command interpreter (cmd.exe of the system directory,
// never one found elsewhere) with commandLine (length UTF-16 code units, no
// NUL needed; its first word stands for the interpreter) without a window,
// in the current directory, and neither waits for it nor keeps its
// handles. environmentBlock is the whole environment of the new process as
// UTF-16 "NAME=VALUE" strings, each ended by a NUL, with one more NUL after
// the last; null means this process's environment. A command line that does
// not fit the command buffer is not started. Returns whether the process
// started.
bool startHiddenCommandLine(const wchar_t *commandLine, std::size_t length,
                            const wchar_t *environmentBlock);
#endif

} // namespace Platform

#endif // ORVANE_PLATFORM_HIDDENPROCESS_H
