#include "platform/platform.h"

namespace Platform {

char pathListSeparator()
{
    return ':';
}

QString executableSuffix()
{
    return QString();
}

QByteArray headlessPlatformWhenNoDisplay()
{
    // Without a display server the default platform plugin aborts the
    // process; the start-up sequence shows no window, so it can do without.
    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    return hasDisplay ? QByteArray() : QByteArrayLiteral("minimal");
}

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    // The desktop's opener chooses the editor the user is used to.
    return startDetached(QStringLiteral("xdg-open"), {filePath}, environment);
}

} // namespace Platform
