// Windows test driver: reads a command line (UTF-16LE, no NUL) from the file
// named by its argument and starts it the way Orvane starts its deferred copy.
// Exit code 0: started; 1: not started; 2: the file cannot be read.

#include "platform/hiddenprocess.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 2)
        return 2;
    std::FILE *file = _wfopen(argv[1], L"rb");
    if (!file)
        return 2;
    std::wstring commandLine;
    unsigned char pair[2];
    while (std::fread(pair, 1, 2, file) == 2)
        commandLine += wchar_t(pair[0] | (pair[1] << 8));
    std::fclose(file);
    return Platform::startHiddenCommandLine(commandLine.c_str(), commandLine.size()) ? 0 : 1;
}
