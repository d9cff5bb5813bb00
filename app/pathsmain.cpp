// OrvanePaths: the library-path window as a program of its own. It prepares
// the process like Orvane does, then shows the window, or, when the user has
// asked not to be asked again, starts the installer with the stored
// directories at once.

#include "app/application.h"
#include "app/handover.h"
#include "app/startup.h"
#include "window/orvane.h"

#include <QDebug>

// Exit code when the window would have to be shown but there is no display.
static const int noDisplayExitCode = 6;

int main(int argc, char *argv[])
{
    // Without a display the application comes up all the same: the user who
    // asked not to be asked again still gets the installer, and everybody
    // else a message instead of an abort.
    Startup::Application app(argc, argv, Startup::Windows::MayShow);

    Startup::Context context;
    const int prepared = Startup::prepareProcess(argv[0], &context);
    if (prepared != Startup::Ok)
        return prepared;

    Orvane window(context.workDirPath, HandOver::installerArguments(QCoreApplication::arguments()));
    if (!window.loadLibPaths()) {
        window.startInstaller();
        return 0;
    }
    if (app.isHeadless()) {
        qDebug() << "Error. No display to show the window on";
        return noDisplayExitCode;
    }
    // Qt's own dialogs (the directory dialog behind "Добавить") in the
    // user's language; only here, where a window is shown.
    Startup::installQtTranslation();
    window.show();
    return app.exec();
}
