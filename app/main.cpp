#include "app/application.h"
#include "app/launcher.h"

int main(int argc, char *argv[])
{
    Startup::Application app(argc, argv);
    return runLauncher(argc, argv);
}
