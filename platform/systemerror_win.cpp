#include "platform/systemerror.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

namespace Platform {

SystemError lastSystemError()
{
    return systemError(static_cast<int>(GetLastError()));
}

SystemError systemError(int code)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    // A code the system has no text for is named by its number.
    QString message = length != 0 && text != nullptr
                          ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                          : QStringLiteral("Windows error %1").arg(code);
    LocalFree(text);
    return {code, message};
}

SystemError runtimeError(int code)
{
    return {code, QString::fromLocal8Bit(std::strerror(code))};
}

} // namespace Platform
