// The floor for measuring Orvane's start: a program that constructs the same
// application object, in the same way, and returns at once.

#include "app/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    const bool headless = Startup::chooseHeadlessPlatformIfNeeded();
    QApplication app(argc, argv);
    Startup::forgetHeadlessPlatform(headless);
    return 0;
}
