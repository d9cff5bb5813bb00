#ifndef ORVANE_UPDATE_PERMISSIONS_H
#define ORVANE_UPDATE_PERMISSIONS_H

#include <optional>

// The permissions of what the self-update writes, as Unix permission bits
// (0777; set-user-ID, set-group-ID and sticky above them). The update may
// run with any umask, a lax one included, and a downloaded new version may
// come with any mode: neither decides who may change an installed program.
//
// - A replaced file keeps the permissions of the file it replaces, so it is
//   never writable by more users than before; its owner may read, write and
//   run it.
// - A new file takes what the new version allows, its owner may read, write
//   and run it; a created directory takes its parent's permissions, its
//   owner may enter it. Either gets the group's write bit only where the
//   directory it lands in grants it.
// - Nothing is ever writable by others (the world), nor set-user-ID or
//   set-group-ID.
namespace Update {

// The permissions of a new version written into a directory with
// directoryMode, replacing a file with replacedMode, or a new file when
// there is none.
unsigned installedFileMode(unsigned newVersionMode, std::optional<unsigned> replacedMode,
                           unsigned directoryMode);

// The permissions of a directory the update creates in a parent with
// parentMode (whose set-group-ID bit, which the system hands on, stays).
unsigned createdDirectoryMode(unsigned parentMode);

// The permissions of a report the update writes, such as the error file,
// created with mode in a directory with directoryMode.
unsigned reportFileMode(unsigned mode, unsigned directoryMode);

} // namespace Update

#endif // ORVANE_UPDATE_PERMISSIONS_H
