#include "platform/platform.h"

#include <QByteArrayList>

namespace Platform {

char pathListSeparator()
{
    return ':';
}

QString executableSuffix()
{
    return QString();
}

QByteArray platformPlugins(bool showsWindows)
{
    // Qt's default plugin aborts the process when the display variables are
    // empty or name a server that cannot be reached (a dead SSH forwarding,
    // for one), while Qt tries a list of plugins in order and takes the
    // first that comes up. Connecting to a display is also time wasted for a
    // process that shows nothing.
    QByteArrayList plugins;
    if (showsWindows) {
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            plugins.append(QByteArrayLiteral("xcb"));
        if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            // Qt 6 prefers Wayland in a Wayland session; Qt 5 takes X first.
            const bool waylandFirst =
                QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && qgetenv("XDG_SESSION_TYPE") == "wayland";
            plugins.insert(waylandFirst ? 0 : plugins.size(), QByteArrayLiteral("wayland"));
        }
    }
    plugins.append(headlessPlatform());
    return plugins.join(';');
}

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    // The desktop's opener chooses the editor the user is used to.
    return startDetached(QStringLiteral("xdg-open"), {filePath}, environment);
}

} // namespace Platform
