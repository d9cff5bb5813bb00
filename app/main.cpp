#include "app/launcher.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The application object sees argc and argv first and removes Qt's own
    // options from them, so those never count as the program's arguments.
    const bool headless = Startup::chooseHeadlessPlatformIfNeeded();
    QApplication app(argc, argv);
    Startup::forgetHeadlessPlatform(headless);
    return runLauncher(argc, argv);
}
