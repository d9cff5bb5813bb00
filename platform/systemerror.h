#ifndef ORVANE_PLATFORM_SYSTEMERROR_H
#define ORVANE_PLATFORM_SYSTEMERROR_H

#include <QString>

#include <optional>
#include <utility>

// Why a call failed, as the system tells it, handed back with the call's
// result rather than through a parameter.
namespace Platform {

// The system's own code (errno; Windows: GetLastError()'s, or errno for the
// C runtime's calls) and its text for it. The code is 0 where there is none
// to give: a failure that the system did not see itself, such as a FIFO
// where a regular file must be, told in our words, or one that Qt reports
// only as the system's text (QFile). No text is ever made up for a code the
// system did not give.
struct SystemError
{
    int code = 0;
    QString text;
};

// The error of the last call that failed (errno; Windows: GetLastError()).
SystemError lastSystemError();

// The error with this code (errno; Windows: a Windows error code) and the
// system's text for it.
SystemError systemError(int code);

// The error with this errno code of the C runtime, on Windows too.
SystemError runtimeError(int code);

// A failure that the system did not see, in our words.
inline SystemError ownError(const QString &text)
{
    return {0, text};
}

// The outcome of a call that gives a value back: the value, or why there is
// none.
template<typename T>
class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(SystemError error)
        : m_error(std::move(error))
    {
    }

    bool ok() const { return m_value.has_value(); }
    const T &value() const { return *m_value; }
    const SystemError &error() const { return m_error; }

private:
    std::optional<T> m_value;
    SystemError m_error;
};

// The outcome of a call that gives nothing back: nothing when it worked.
using Failure = std::optional<SystemError>;

} // namespace Platform

#endif // ORVANE_PLATFORM_SYSTEMERROR_H
