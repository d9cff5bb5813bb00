#include "platform/environment.h"

#include <QByteArrayList>
#include <QFile>

namespace Platform {

void restrictLibrarySearch()
{
    // The dynamic linker never looks in the current directory unless asked to.
}

char pathListSeparator()
{
    return ':';
}

EnvironmentValue environmentValue(const char *name)
{
    return qgetenv(name);
}

void setEnvironmentValue(const char *name, const EnvironmentValue &value)
{
    qputenv(name, value);
}

EnvironmentValue toEnvironmentValue(const QString &text)
{
    return QFile::encodeName(text);
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

QStringList programArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(decodeArgument(argv[i]));
    return arguments;
}

} // namespace Platform
