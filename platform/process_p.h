#ifndef ORVANE_PLATFORM_PROCESS_P_H
#define ORVANE_PLATFORM_PROCESS_P_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// What process.cpp asks of the system-specific parts; not for other users.
namespace Platform {

// Starts program detached when its arguments must go on as bytes that
// QProcess would change, and returns whether it started; std::nullopt when
// QProcess can hand them on as they are.
std::optional<bool> startDetachedAsBytes(const QString &program, const QStringList &arguments,
                                         const QProcessEnvironment &environment,
                                         const QString &workingDirectory);

} // namespace Platform

#endif // ORVANE_PLATFORM_PROCESS_P_H
