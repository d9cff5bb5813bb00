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

    // The system's own interpreter, named by its full path: CreateProcessW
    // would look in the current directory, which holds downloads, before
    // the system directories.
    constexpr wchar_t interpreterName[] = L"\\cmd.exe";
    constexpr UINT nameUnits = sizeof interpreterName / sizeof interpreterName[0];
    wchar_t interpreter[MAX_PATH];
    const UINT directoryUnits = GetSystemDirectoryW(interpreter, MAX_PATH - nameUnits);
    if (directoryUnits == 0 || directoryUnits >= MAX_PATH - nameUnits)
        return false;
    std::wmemcpy(interpreter + directoryUnits, interpreterName, nameUnits);

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
    if (!CreateProcessW(interpreter, buffer, nullptr, nullptr, TRUE, flags, environment, nullptr,
                        &startupInfo, &processInfo))
        return false;
    // The interpreter runs on after this process; its handles are not needed.
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return true;
}

} // namespace Platform
