// Windows test driver: reads a command line (UTF-16LE, no NUL) from the file
// named by its first argument and starts it the way Orvane starts its
// deferred copy. The optional second file holds variables as an environment
// block (UTF-16LE); the new process gets the driver's environment with them
// added, as Orvane adds them to the children's environment.
// Exit code 0: started; 1: not started; 2: a file cannot be read.

#include "platform/hiddenprocess.h"

#include <windows.h>

#include <cstdio>
#include <string>

static bool readUtf16(const wchar_t *path, std::wstring *text)
{
    std::FILE *file = _wfopen(path, L"rb");
    if (!file)
        return false;
    unsigned char pair[2];
    while (std::fread(pair, 1, 2, file) == 2)
        *text += wchar_t(pair[0] | (pair[1] << 8));
    std::fclose(file);
    return true;
}

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 2 && argc != 3)
        return 2;
    std::wstring commandLine;
    if (!readUtf16(argv[1], &commandLine))
        return 2;
    if (argc == 2)
        return Platform::startHiddenCommandLine(commandLine.c_str(), commandLine.size(), nullptr)
                   ? 0
                   : 1;

    // The driver's own block up to its final NUL, then the variables' block,
    // which ends with the final NUL of both.
    std::wstring variables;
    if (!readUtf16(argv[2], &variables))
        return 2;
    const wchar_t *own = GetEnvironmentStringsW();
    const wchar_t *end = own;
    while (*end)
        end += std::wcslen(end) + 1;
    std::wstring block(own, end);
    FreeEnvironmentStringsW(const_cast<wchar_t *>(own));
    block += variables;
    return Platform::startHiddenCommandLine(commandLine.c_str(), commandLine.size(), block.c_str())
               ? 0
               : 1;
}
