#include "platform/process.h"
#include "platform/process_p.h"

#include "platform/hiddenprocess.h"

#include <QDir>

namespace Platform {

QString executableSuffix()
{
    return QStringLiteral(".exe");
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
