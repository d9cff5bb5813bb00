#include "app/launcher.h"

#include "app/handover.h"
#include "app/startup.h"
#include "update/updatemode.h"

int runLauncher(int argc, char **argv)
{
    Startup::Context context;
    const int prepared = Startup::prepareProcess(argv[0], &context);
    if (prepared != Startup::Ok)
        return prepared;

    if (argc >= 2 && Startup::isUpdateOption(argv[1]))
        return Update::run(argc, argv, context);
    return HandOver::run(context.childEnvironment);
}
