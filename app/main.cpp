// Orvane: prepares the process, then hands over to the installer, or, after
// "-r", replaces installation files with their new versions.

#include "app/application.h"
#include "app/handover.h"
#include "app/startup.h"
#include "platform/environment.h"
#include "update/recovery.h"
#include "update/updatemode.h"

int main(int argc, char *argv[])
{
    // Takes Qt's own options out of argc and argv first.
    App::Application app(argc, argv, App::Windows::None);

    Startup::Context context;
    const Installation::ExitCode prepared = Startup::prepareProcess(&context);
    if (prepared != Installation::Ok)
        return prepared;

    // The names as the application object decoded them: on Windows from the
    // wide command line, so no character is lost to the 8-bit code page.
    if (argc >= 2 && Startup::isUpdateOption(argv[1]))
        return Update::run(QCoreApplication::arguments().mid(2), context.startDirPath,
                           context.childEnvironment);
    // The installer never runs on an installation half updated. (The update
    // mode does this itself, under its lock, and reports it with its own.)
    Update::finishInterruptedUpdate(context.workDirPath, context.childEnvironment);
    return HandOver::run(HandOver::installerArguments(Platform::programArguments(argc, argv)),
                         context.childEnvironment);
}
