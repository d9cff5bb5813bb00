#include "platform/process.h"

#include "platform/hiddenprocess.h"

#include <QDir>
#include <QProcess>

#include <windows.h>

#include <tlhelp32.h>

namespace Platform {

QString executableSuffix()
{
    return QStringLiteral(".exe");
}

Failure startDetached(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &environment, const QString &workingDirectory)
{
    // Arguments are UTF-16 text on Windows: QProcess hands them on exactly.
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    if (process.startDetached())
        return std::nullopt;
    // QProcess sets no reason of its own, and nothing after its failed
    // CreateProcessW changes the thread's last error.
    return lastSystemError();
}

Interpreter systemInterpreter()
{
    return Interpreter::WindowsCommand;
}

Failure startHiddenCommandLine(const QString &commandLine, const QProcessEnvironment &environment)
{
    static_assert(sizeof(wchar_t) == sizeof(ushort), "wchar_t holds UTF-16 code units");
    // A command line cut short would copy some files and never restart.
    if (!fitsCommandBuffer(static_cast<std::size_t>(commandLine.size())))
        return ownError(QStringLiteral("The command line is too long"));
    const QString block = environmentBlock(environment);
    if (startHiddenCommandLine(reinterpret_cast<const wchar_t *>(commandLine.utf16()),
                               static_cast<std::size_t>(commandLine.size()),
                               reinterpret_cast<const wchar_t *>(block.utf16())))
        return std::nullopt;
    return lastSystemError();
}

QString findProgram(const QString &, const QProcessEnvironment &)
{
    return QString();
}

Failure startDetachedHandingOn(const QString &, const QStringList &, const QProcessEnvironment &,
                               int)
{
    return systemError(ERROR_NOT_SUPPORTED);
}

bool processRunsWith(qint64, const QByteArray &)
{
    return true;
}

namespace {

// A directory the system names through one of its calls that take a buffer
// and return the length.
QString systemPath(UINT(WINAPI *call)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH];
    const UINT length = call(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QString();
    QString path = QString::fromWCharArray(buffer, static_cast<int>(length));
    while (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    return path;
}

} // namespace

QString systemDirectory()
{
    return systemPath(GetSystemDirectoryW);
}

QString windowsDirectory()
{
    return systemPath(GetWindowsDirectoryW);
}

bool startedProcessRuns(qint64 starterId)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return true;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = entry.th32ParentProcessID == starterId;
    CloseHandle(snapshot);
    return found;
}

Failure startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    const QString directory = windowsDirectory();
    if (directory.isEmpty())
        return lastSystemError();
    return startDetached(directory + QStringLiteral("\\notepad.exe"),
                         {QDir::toNativeSeparators(filePath)}, environment);
}

} // namespace Platform
