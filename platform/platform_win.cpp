#include "platform/platform.h"

#include "platform/filereplace_win_p.h"
#include "platform/hiddenprocess.h"
#include "platform/platform_p.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace Platform {

char pathListSeparator()
{
    return ';';
}

EnvironmentValue environmentValue(const char *name)
{
    // Read through the wide environment, not the 8-bit code page.
    return qEnvironmentVariable(name);
}

void setEnvironmentValue(const char *name, const EnvironmentValue &value)
{
    // The wide variant keeps every character, and the C runtime passes it on
    // to the process environment that children and the interpreter inherit.
    const std::wstring wideName = QString::fromLatin1(name).toStdWString();
    _wputenv_s(wideName.c_str(), value.toStdWString().c_str());
}

EnvironmentValue toEnvironmentValue(const QString &text)
{
    return text;
}

bool isPathSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

bool runningProgramIsHeld()
{
    return true;
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

namespace {

// Not every MinGW-w64 header names it.
constexpr DWORD directoryNotSupported = 336; // ERROR_DIRECTORY_NOT_SUPPORTED

QString errorText(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = length != 0 && text != nullptr
                          ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                          : QStringLiteral("Windows error %1").arg(error);
    LocalFree(text);
    return message;
}

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

Replacement replaceFile(const QString &from, const QString &to, QString *reason)
{
    unsigned long error = 0;
    const Replacement outcome =
        replaceFileWin(nativePath(from).c_str(), nativePath(to).c_str(), &error);
    if (outcome != Replacement::Done)
        *reason = errorText(error);
    return outcome;
}

KernelCopy copyContent(int, int, QString *)
{
    return KernelCopy::Unsupported;
}

bool flushFiles(const QStringList &paths, QString *reason)
{
    for (const QString &path : paths) {
        unsigned long error = 0;
        if (!flushFileWin(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                          &error)) {
            *reason = errorText(error);
            return false;
        }
    }
    return true;
}

bool syncDirectory(const QString &, QString *)
{
    // The move is written through (MOVEFILE_WRITE_THROUGH): the new name is on
    // the disk when it returns.
    return true;
}

QString lastErrorText()
{
    return errorText(GetLastError());
}

QString isDirectoryText()
{
    return errorText(directoryNotSupported);
}

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    return startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(filePath)},
                         environment);
}

} // namespace Platform
