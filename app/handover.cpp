#include "app/handover.h"

#include "platform/platform.h"

#include <QCoreApplication>

namespace HandOver {

QString installerPath(const QString &appDir)
{
    return appDir + QLatin1String("/Hultrex") + Platform::executableSuffix();
}

QStringList installerArguments(const QStringList &applicationArguments)
{
    return applicationArguments.mid(1);
}

int run(const QProcessEnvironment &environment)
{
    Platform::startDetached(installerPath(QCoreApplication::applicationDirPath()),
                            installerArguments(QCoreApplication::arguments()), environment);
    return 0;
}

} // namespace HandOver
