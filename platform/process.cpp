#include "platform/process.h"
#include "platform/process_p.h"

#include <QProcess>

#include <algorithm>

namespace Platform {

bool startDetached(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment, const QString &workingDirectory,
                   QString *reason)
{
    QString ignored;
    if (!reason)
        reason = &ignored;
    if (const std::optional<bool> started =
            startDetachedAsBytes(program, arguments, environment, workingDirectory, reason))
        return *started;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    if (process.startDetached())
        return true;
    *reason = lastStartError();
    return false;
}

QString environmentBlock(const QProcessEnvironment &environment)
{
    // Windows looks variables up without regard to case and expects the
    // block in that order.
    QStringList names = environment.keys();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QString block;
    for (const QString &name : names)
        block += name + QLatin1Char('=') + environment.value(name) + QChar(0);
    if (block.isEmpty())
        block += QChar(0);
    return block + QChar(0);
}

} // namespace Platform
