#include "platform/process.h"
#include "platform/process_p.h"

#include "platform/hiddenprocess.h"

#include <QDir>

#include <windows.h>

#include <tlhelp32.h>

namespace Platform {

QString executableSuffix()
{
    return QStringLiteral(".exe");
}

std::optional<bool> startDetachedAsBytes(const QString &, const QStringList &,
                                         const QProcessEnvironment &, const QString &, QString *)
{
    // Arguments are UTF-16 text on Windows: QProcess hands them on exactly.
    return std::nullopt;
}

QString lastStartError()
{
    // QProcess sets no reason of its own, and nothing after its failed
    // CreateProcessW changes the thread's last error.
    return qt_error_string(static_cast<int>(GetLastError()));
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

bool startEditor(const QString &filePath, const QProcessEnvironment &environment)
{
    const QString directory = windowsDirectory();
    if (directory.isEmpty())
        return false;
    return startDetached(directory + QStringLiteral("\\notepad.exe"),
                         {QDir::toNativeSeparators(filePath)}, environment);
}

} // namespace Platform
