#include "platform/platform.h"

#include "platform/hiddenprocess.h"

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

QByteArray headlessPlatformWhenNoDisplay()
{
    // A Windows session always has a desktop to create the application on.
    return QByteArray();
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
