#include "platform/platform.h"

#include <QProcess>

namespace Platform {

bool startDetached(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment, const QString &workingDirectory)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    return process.startDetached();
}

} // namespace Platform
