// The floor for measuring Orvane's start: a program that constructs the same
// application object and returns at once.

#include "app/application.h"

int main(int argc, char *argv[])
{
    App::Application app(argc, argv, App::Windows::None);
    return 0;
}
