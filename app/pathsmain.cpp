// OrvanePaths: the library-path window as a program of its own. It prepares
// the process like Orvane does, then shows the window, or, when the user has
// asked not to be asked again, starts the installer with the stored
// directories at once.

#include "app/application.h"
#include "app/handover.h"
#include "app/startup.h"
#include "platform/environment.h"
#include "update/recovery.h"
#include "window/orvane.h"

#include <QDebug>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Without a display the application comes up all the same: the user who
    // asked not to be asked again still gets the installer, and everybody
    // else a message instead of an abort.
    App::Application app(argc, argv, App::Windows::MayShow);

    Startup::Context context;
    const Installation::ExitCode prepared = Startup::prepareProcess(&context);
    if (prepared != Installation::Ok)
        return prepared;
    // The installer never runs on an installation half updated.
    Update::finishInterruptedUpdate(context.workDirPath, context.childEnvironment);

    Orvane window(context.workDirPath,
                  HandOver::installerArguments(Platform::programArguments(argc, argv)));
    if (!window.loadLibPaths())
        return window.startInstaller() ? Installation::Ok : Installation::CannotStartInstaller;
    if (app.isHeadless()) {
        qDebug() << "Error. No display to show the window on";
        return Installation::NoDisplay;
    }
    // Qt's own dialogs (the directory dialog behind "Добавить") in the
    // user's language; only here, where a window is shown.
    App::installQtTranslation();
    window.show();
    // Asked for by the tests of display scaling, once the window is up: the
    // scale it is drawn at and the texts that do not fit.
    if (qEnvironmentVariableIsSet("ORVANE_LAYOUT_REPORT")) {
        QTimer::singleShot(0, &window, [&window] {
            const QStringList clipped = window.clippedTexts();
            qDebug().noquote() << QStringLiteral("Layout: scale %1, texts cut: %2")
                                      .arg(window.devicePixelRatioF())
                                      .arg(clipped.isEmpty() ? QStringLiteral("none")
                                                             : clipped.join(QLatin1Char(' ')));
        });
    }
    return app.exec();
}
