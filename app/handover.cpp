#include "app/handover.h"

#include "installation/installation.h"
#include "platform/platform.h"

#include <QCoreApplication>

namespace HandOver {

QStringList installerArguments(const QStringList &applicationArguments)
{
    return applicationArguments.mid(1);
}

Install::ExitCode run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    Platform::startDetached(Install::installerPath(QCoreApplication::applicationDirPath()),
                            arguments, environment);
    return Install::Ok;
}

} // namespace HandOver
