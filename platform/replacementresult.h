#ifndef ORVANE_PLATFORM_REPLACEMENTRESULT_H
#define ORVANE_PLATFORM_REPLACEMENTRESULT_H

// Free of Qt, so that the Windows test driver compiles the Windows
// replacement (filereplace_win.cpp) on its own with MinGW-w64.
namespace Platform {

// How an attempt to give a file another file's name turned out.
enum class Replacement {
    Done,
    // The target is held by someone (an open handle, a lock, a mount): this
    // usually goes away, so the attempt is worth repeating.
    Busy,
    // The target is a running program or a loaded library (Windows): it can
    // be neither replaced nor removed while it is mapped, however long one
    // waits, but it can be renamed (replaceAside()).
    HeldAsImage,
    // Waiting does not help: no permission, a read-only or full file system,
    // a directory in the way.
    Refused,
};

} // namespace Platform

#endif // ORVANE_PLATFORM_REPLACEMENTRESULT_H
