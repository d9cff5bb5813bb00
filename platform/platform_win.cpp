#include "platform/platform.h"

#include "platform/hiddenprocess.h"
#include "platform/platform_p.h"

#include <QCoreApplication>
#include <QDir>

namespace Platform {

char pathListSeparator()
{
    return ';';
}

QString executableSuffix()
{
    return QStringLiteral(".exe");
}

QByteArray platformPlugins(bool /*showsWindows*/)
{
    // A Windows session always has a desktop to create the application on.
    return QByteArray();
}

QStringList programArguments(int argc, char **argv)
{
    // argv went through the 8-bit code page; the application object has the
    // arguments from the wide command line, without Qt's own options.
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return QCoreApplication::arguments();
}

std::optional<bool> startDetachedAsBytes(const QString &, const QStringList &,
                                         const QProcessEnvironment &, const QString &)
{
    // Arguments are UTF-16 text on Windows: QProcess hands them on exactly.
    return std::nullopt;
}

bool startHiddenCommandLine(const QString &commandLine, const QProcessEnvironment &environment)
{
    static_assert(sizeof(wchar_t) == sizeof(ushort), "wchar_t holds UTF-16 code units");
    const QString block = environmentBlock(environment);
    return startHiddenCommandLine(reinterpret_cast<const wchar_t *>(commandLine.utf16()),
                                  static_cast<std::size_t>(commandLine.size()),
                                  reinterpret_cast<const wchar_t *>(block.utf16()));
}

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    return startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(filePath)},
                         environment);
}

} // namespace Platform
