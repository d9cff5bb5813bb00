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

bool deferredCopyRuns(qint64 chain)
{
    // The chain's temporary files carry its shell's id; the shell names
    // itself by its $0, so an id given again to another program does not
    // count.
    return Platform::processRunsWith(chain, deferredCopyMark);
}

void removeAbandonedReports(const QString &)
{
    // The chain writes its report itself, when it fails.
}

void dropDeferredCopyVariables(QProcessEnvironment *)
{
    // The chain hands its paths to /bin/sh as arguments.
}

} // namespace Update
