// Orvane: prepares the process, then hands over to the installer, or, after
// "-r", replaces installation files with their new versions.

#include "app/application.h"
#include "app/handover.h"
#include "app/startup.h"
#include "update/updatemode.h"

int main(int argc, char *argv[])
{
    // Takes Qt's own options out of argc and argv first.
    Startup::Application app(argc, argv);

    Startup::Context context;
    const Install::ExitCode prepared = Startup::prepareProcess(&context);
    if (prepared != Install::Ok)
        return prepared;

    if (argc >= 2 && Startup::isUpdateOption(argv[1])) {
        QStringList names;
        for (int i = 2; i < argc; ++i)
            names.append(QString::fromLocal8Bit(argv[i]));
        return Update::run(names, context.startDirPath, context.childEnvironment);
    }
    return HandOver::run(context.childEnvironment);
}
