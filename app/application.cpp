#include "app/application.h"

#include "platform/environment.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace App {

static const char platformVariable[] = "QT_QPA_PLATFORM";

Detail::ProcessSetup::ProcessSetup()
{
    Platform::restrictLibrarySearch();
    Platform::failOversizedWrites();
    Platform::keepNameBytes();
}

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

Detail::DisplayScale::DisplayScale(Windows windows)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    if (windows == Windows::None)
        return;
    // Without scaling Qt 5 draws the fonts at the desktop's DPI but keeps the
    // form's pixel geometry, which cuts the texts off from 125 % on.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // Rounded, 125 % would count as 1 and 150 % as 2.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#else
    Q_UNUSED(windows)
#endif
}

Application::Application(int &argc, char **argv, Windows windows)
    : ProcessSetup()
    , PlatformChoice(windows)
    , DisplayScale(windows)
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

} // namespace App
