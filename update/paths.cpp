#include "update/paths.h"

#include "platform/files.h"

namespace Update {

namespace {

// The position of the last separator of directories as the system reads
// them, or -1.
int lastSystemSeparator(const QString &path)
{
    for (int i = path.size() - 1; i >= 0; --i) {
        if (Platform::isPathSeparator(path.at(i)))
            return i;
    }
    return -1;
}

} // namespace

QString createdDirectoryOf(const QString &path)
{
    const int separator = path.lastIndexOf(QLatin1Char('/'));
    return separator < 0 ? QString() : path.left(separator);
}

QString directoryOf(const QString &path)
{
    const int separator = lastSystemSeparator(path);
    return separator < 0 ? QString() : path.left(separator);
}

QString fileNameOf(const QString &path)
{
    return path.mid(lastSystemSeparator(path) + 1);
}

QString directoryPrefixOf(const QString &path)
{
    const int separator =
        qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.left(separator + 1);
}

} // namespace Update
