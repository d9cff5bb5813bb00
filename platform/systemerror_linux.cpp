#include "platform/systemerror.h"

#include <cerrno>
#include <cstring>

namespace Platform {

SystemError lastSystemError()
{
    return systemError(errno);
}

SystemError systemError(int code)
{
    return {code, QString::fromLocal8Bit(std::strerror(code))};
}

SystemError runtimeError(int code)
{
    return systemError(code);
}

} // namespace Platform
