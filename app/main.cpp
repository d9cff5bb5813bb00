#include "app/application.h"
#include "app/launcher.h"

int main(int argc, char *argv[])
{
    Startup::Application app(argc, argv, Startup::Windows::None);
    return runLauncher(argc, argv);
}
