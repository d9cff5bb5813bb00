#include "platform/hiddenprocess.h"

#include <windows.h>

#include <cwchar>

namespace Platform {

bool startHiddenCommandLine(const wchar_t *commandLine, std::size_t length)
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
    // No environment block and no directory: the interpreter inherits this
    // process's environment (with the extended PATH) and its current
    // directory, the working directory.
    if (!CreateProcessW(nullptr, buffer, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startupInfo, &processInfo))
        return false;
    // The interpreter runs on after this process; its handles are not needed.
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return true;
}

} // namespace Platform
