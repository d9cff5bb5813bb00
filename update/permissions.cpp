#include "update/permissions.h"

namespace Update {

namespace {

constexpr unsigned ownerAll = 0700;
constexpr unsigned groupWrite = 0020;
constexpr unsigned otherWrite = 0002;

// Without the write bits the directory does not grant to its group, and
// never writable by others.
unsigned withinDirectory(unsigned mode, unsigned directoryMode)
{
    return mode & ~otherWrite & ~(groupWrite & ~directoryMode);
}

} // namespace

unsigned installedFileMode(unsigned newVersionMode, std::optional<unsigned> replacedMode,
                           unsigned directoryMode)
{
    if (replacedMode)
        return ((*replacedMode & 0777) | ownerAll) & ~otherWrite;
    return withinDirectory((newVersionMode & 0777) | ownerAll, directoryMode);
}

unsigned createdDirectoryMode(unsigned parentMode)
{
    return withinDirectory((parentMode & 02777) | ownerAll, parentMode);
}

unsigned reportFileMode(unsigned mode, unsigned directoryMode)
{
    return withinDirectory(mode & 0777, directoryMode);
}

} // namespace Update
