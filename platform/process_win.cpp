#include "platform/process.h"
#include "platform/process_p.h"

#include "platform/hiddenprocess.h"

#include <QDir>
#include <QFileInfo>

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

QString findProgram(const QString &name, const QProcessEnvironment &environment)
{
    const QStringList directories =
        environment.value(QStringLiteral("PATH")).split(QLatin1Char(';'));
    for (const QString &directory : directories) {
        if (QDir::isRelativePath(directory))
            continue;
        QString path = directory + QLatin1Char('/') + name;
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

bool processRunsWith(qint64, const QByteArray &)
{
    // Another process's command line is not for us to read here.
    return true;
}

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    return startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(filePath)},
                         environment);
}

} // namespace Platform
