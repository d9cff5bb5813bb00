#include "app/handover.h"

#include "installation/installation.h"
#include "platform/platform.h"

#include <QCoreApplication>

namespace HandOver {

QStringList installerArguments(const QStringList &applicationArguments)
{
    return applicationArguments.mid(1);
}

Install::ExitCode run(const QProcessEnvironment &environment)
{
    Platform::startDetached(Install::installerPath(QCoreApplication::applicationDirPath()),
                            installerArguments(QCoreApplication::arguments()), environment);
    return Install::Ok;
}

} // namespace HandOver
