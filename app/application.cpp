#include "app/application.h"

#include "platform/platform.h"

namespace Startup {

Detail::HeadlessChoice::HeadlessChoice()
{
    const QByteArray platform = Platform::headlessPlatformWhenNoDisplay();
    if (platform.isEmpty())
        return;
    qputenv("QT_QPA_PLATFORM", platform);
    chosen = true;
}

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    if (chosen)
        qunsetenv("QT_QPA_PLATFORM");
}

} // namespace Startup
