#include "app/handover.h"

#include "installation/installation.h"

namespace HandOver {

QStringList installerArguments(const QStringList &applicationArguments)
{
    return applicationArguments.mid(1);
}

Installation::ExitCode run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QString reason;
    return Installation::startInstaller(arguments, environment, &reason)
               ? Installation::Ok
               : Installation::CannotStartInstaller;
}

} // namespace HandOver
