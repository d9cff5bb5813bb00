// OrvanePaths: the library-path window as a program of its own. It prepares
// the process like Orvane does, then shows the window, or, when the user has
// asked not to be asked again, starts the installer with the stored
// directories at once.

#include "app/handover.h"
#include "app/startup.h"
#include "window/orvane.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The window needs a real display, so unlike Orvane there is no headless
    // fallback here.
    QApplication app(argc, argv);

    Startup::Context context;
    const int prepared = Startup::prepareProcess(argv[0], &context);
    if (prepared != Startup::Ok)
        return prepared;

    Orvane window(context.workDirPath, HandOver::installerArguments(QCoreApplication::arguments()));
    if (!window.loadLibPaths()) {
        window.startInstaller();
        return 0;
    }
    window.show();
    return app.exec();
}
