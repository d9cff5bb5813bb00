#include "app/application.h"

#include "platform/platform.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace Startup {

static const char platformVariable[] = "QT_QPA_PLATFORM";

Detail::PlatformChoice::PlatformChoice(Windows windows)
{
    if (!qEnvironmentVariableIsEmpty(platformVariable))
        return;
    const QByteArray plugins = Platform::platformPlugins(windows == Windows::MayShow);
    if (plugins.isEmpty())
        return;
    // A -platform option still wins over the variable.
    qputenv(platformVariable, plugins);
    chosen = true;
}

Application::Application(int &argc, char **argv, Windows windows)
    : PlatformChoice(windows)
    , QApplication(argc, argv)
{
    if (chosen)
        qunsetenv(platformVariable);
}

bool Application::isHeadless() const
{
    return chosen && platformName() == QLatin1String(Platform::headlessPlatform());
}

QStringList qtTranslationDirectories()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString installed = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString installed = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    return {installed, QStringLiteral(":/translations")};
}

QTranslator *installQtTranslation(const QLocale &locale, const QStringList &directories)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QString &directory : directories) {
        if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), directory) &&
            QCoreApplication::installTranslator(translator))
            return translator;
    }
    delete translator;
    return nullptr;
}

} // namespace Startup
