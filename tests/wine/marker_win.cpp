// Windows test program standing in for the restarted Orvane: writes its own
// command line and, after a "|", its current directory to "restarted.txt"
// beside its executable.

#include <windows.h>

#include <cstdio>
#include <string>

int wmain()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return 1;
    std::wstring marker(path, length);
    marker.erase(marker.find_last_of(L"\\/") + 1);
    marker += L"restarted.txt";
    wchar_t directory[MAX_PATH];
    const DWORD directoryLength = GetCurrentDirectoryW(MAX_PATH, directory);
    if (directoryLength == 0 || directoryLength >= MAX_PATH)
        return 1;
    std::FILE *file = _wfopen(marker.c_str(), L"wb");
    if (!file)
        return 1;
    const std::wstring record =
        std::wstring(GetCommandLineW()) + L"|" + std::wstring(directory, directoryLength);
    for (wchar_t unit : record)
        std::fputc(unit < 128 ? char(unit) : '?', file);
    return std::fclose(file) == 0 ? 0 : 1;
}
