#include "app/handover.h"

#include "installation/installation.h"
#include "platform/process.h"

#include <QCoreApplication>

namespace HandOver {

QStringList installerArguments(const QStringList &applicationArguments)
{
    return applicationArguments.mid(1);
}

Installation::ExitCode run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    Platform::startDetached(Installation::installerPath(QCoreApplication::applicationDirPath()),
                            arguments, environment);
    return Installation::Ok;
}

} // namespace HandOver
