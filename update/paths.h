#ifndef ORVANE_UPDATE_PATHS_H
#define ORVANE_UPDATE_PATHS_H

#include <QString>

// The directory part of a path, by the three rules the self-update needs.
// They differ on purpose and stand side by side here so that each caller
// takes the one it means.
namespace Update {

// The directory the pass creates for a target that is missing: up to the
// last "/", on every system. A backslash never creates a directory: on Linux
// it is part of a file name, on Windows a name written with backslashes must
// lie in a directory that exists. Empty when path holds no "/".
QString createdDirectoryOf(const QString &path);

// The directory the system itself sees: up to the last separator it reads
// ("/", on Windows "\\" too). The staged file stands there, beside its
// target. Empty when path holds no separator.
QString directoryOf(const QString &path);

// The file name the system sees: what follows directoryOf().
QString fileNameOf(const QString &path);

// Up to and including the last "/" or "\\", whatever the system: the deferred
// copy's command lines are built, and checked, for either system on any.
// Empty when path holds neither.
QString directoryPrefixOf(const QString &path);

} // namespace Update

#endif // ORVANE_UPDATE_PATHS_H
