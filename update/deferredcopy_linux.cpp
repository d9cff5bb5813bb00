#include "update/deferredcopy.h"

#include "platform/process.h"

namespace Update {

// /bin/sh with GNU coreutils ("cp -T", "chmod --reference", "sync FILE").
bool startDeferredCopy(const DeferredCopy &copy, const QProcessEnvironment &environment)
{
    // The desktop's opener as the program would start it: found on PATH's
    // absolute directories only.
    const QString editor = Platform::findProgram(QStringLiteral("xdg-open"), environment);
    return Platform::startDetached(QStringLiteral("/bin/sh"),
                                   deferredCopyShellArguments(copy, editor), environment);
}

} // namespace Update
