#include "platform/platform.h"

namespace Platform {

char pathListSeparator()
{
    return ';';
}

QString executableSuffix()
{
    return QStringLiteral(".exe");
}

QByteArray headlessPlatformWhenNoDisplay()
{
    // A Windows session always has a desktop to create the application on.
    return QByteArray();
}

} // namespace Platform
