#include "platform/hiddenprocess.h"

#include <windows.h>

#include <cwchar>

namespace Platform {

bool startHiddenCommandLine(const wchar_t *commandLine, std::size_t length,
                            const wchar_t *environmentBlock)
{
    // A command line that does not fit is refused as a whole: cut short, it
    // would copy some files and never restart the program.
    if (!fitsCommandBuffer(length))
        return false;
    wchar_t buffer[commandBufferUnits];
    std::wmemcpy(buffer, commandLine, length);
    buffer[length] = L'\0';

    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};
    // No directory: the interpreter starts in this process's current
    // directory, the working directory. The environment block is UTF-16, so
    // no value passes through the local 8-bit encoding.
    DWORD flags = CREATE_NO_WINDOW;
    if (environmentBlock)
        flags |= CREATE_UNICODE_ENVIRONMENT;
    // CreateProcessW only reads the block; its parameter is not const.
    void *environment = const_cast<wchar_t *>(environmentBlock);
    if (!CreateProcessW(nullptr, buffer, nullptr, nullptr, TRUE, flags, environment, nullptr,
                        &startupInfo, &processInfo))
        return false;
    // The interpreter runs on after this process; its handles are not needed.
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return true;
}

} // namespace Platform
