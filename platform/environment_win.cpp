#include "platform/environment.h"

#include <QCoreApplication>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace Platform {

void keepNameBytes()
{
    // Names are UTF-16 text on Windows, which Qt keeps as it is.
}

void failOversizedWrites()
{
    // Windows knows no file-size limit of a process.
}

void restrictLibrarySearch()
{
    // Looked up, not imported: a Windows 7 without its loader update lacks it
    // and would not start the program at all. There at least the current
    // directory leaves the search.
    using SetDirectories = BOOL(WINAPI *)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDirectories = reinterpret_cast<SetDirectories>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (!setDirectories ||
        !setDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

char pathListSeparator()
{
    return ';';
}

int largestEnvironmentValue()
{
    return 32767;
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

} // namespace Platform
