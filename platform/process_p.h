#ifndef ORVANE_PLATFORM_PROCESS_P_H
#define ORVANE_PLATFORM_PROCESS_P_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// What process.cpp asks of the system-specific parts; not for other users.
namespace Platform {

// Starts program detached where the system's own way is needed: to hand
// arguments on as bytes that QProcess would change, and to learn why a start
// failed, which QProcess does not tell (Linux). Returns whether it started,
// with the system's text in *reason when not; std::nullopt when QProcess is
// to start it.
std::optional<bool> startDetachedAsBytes(const QString &program, const QStringList &arguments,
                                         const QProcessEnvironment &environment,
                                         const QString &workingDirectory, QString *reason);

// The system's text for the failure of the last start through QProcess.
QString lastStartError();

} // namespace Platform

#endif // ORVANE_PLATFORM_PROCESS_P_H
