#ifndef ORVANE_UPDATE_STAGEDFILE_H
#define ORVANE_UPDATE_STAGEDFILE_H

#include "platform/systemerror.h"

#include <QString>

// The staged file: a new version written beside its target until it takes
// the target's name (the design note of replacement.cpp says why). And its
// counterpart, the aside file: the old version of a running program or a
// loaded library, renamed in its own directory so that the new version can
// take the name at once, until it can be removed.
namespace Update {

// A staged file is named "." + the target's file name (its first 64 UTF-16
// units) + this + six random letters or digits.
constexpr char stagedInfix[] = ".orvane-new-";

// Whether a file name is that of a staged new version.
bool isStagedFileName(const QString &fileName);

// The staged file's name for a target's file name, with these six random
// letters or digits.
QString stagedFileName(const QString &targetFileName, const QString &random);

// An aside file is named "." + the target's whole file name + this + six
// random letters or digits, so that the name tells where it came from.
constexpr char asideInfix[] = ".orvane-old-";

// A new aside file's name for a target's file name, with fresh random letters
// or digits; empty when the whole name would not fit a file name.
QString asideFileName(const QString &targetFileName);

// The file name of the target that an aside file's name stands for; empty
// when fileName is not an aside file's.
QString asideTargetName(const QString &fileName);

// Copies the new version at sourcePath into a new staged file in the target's
// directory and gives it the permissions it is to have as the target
// (permissions.h); the file is written
// and closed, not yet flushed. Returns it, or the error, leaving no file
// behind.
struct StagedFile
{
    QString path;
    // Holds the staged file's lock from the instant after its creation
    // (Platform::holdFileLock(); -1 where there is none): the pass closes it
    // once the file has the target's name or is removed, so that no run of
    // another machine that shares the installation takes it for a killed
    // run's leftover meanwhile (such a run removes a staged file only while
    // it holds its lock itself: removeUnheldFile).
    int lock = -1;
};
Platform::Result<StagedFile> copyToStaged(const QString &sourcePath, const QString &directory,
                                          const QString &targetFileName);

} // namespace Update

#endif // ORVANE_UPDATE_STAGEDFILE_H
