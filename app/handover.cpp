#include "app/handover.h"

#include "installation/installation.h"

namespace HandOver {

QStringList installerArguments(const QStringList &applicationArguments)
{
    return applicationArguments.mid(1);
}

Installation::ExitCode run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    return Installation::startInstaller(arguments, environment) ? Installation::CannotStartInstaller
                                                                : Installation::Ok;
}

} // namespace HandOver
