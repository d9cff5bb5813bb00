#ifndef ORVANE_APP_APPLICATION_H
#define ORVANE_APP_APPLICATION_H

#include <QApplication>
#include <QLocale>
#include <QStringList>

class QTranslator;

namespace App {

// Whether a program may show a window. One that never does needs no display.
enum class Windows { None, MayShow };

namespace Detail {
// What the process needs before anything else happens, the first base of
// Application: libraries are loaded only from the system's and the
// program's own directory (Platform::restrictLibrarySearch) before any is
// loaded by name, the bytes of names that are no valid text are kept
// (Platform::keepNameBytes) before anything is decoded, and a write beyond
// the file-size limit fails instead of ending the process
// (Platform::failOversizedWrites) before anything is written, the warnings
// of Qt itself included.
struct ProcessSetup
{
    ProcessSetup();
};

// Chooses the platform plugins to try when the user has chosen none. A base of
// Application, so that it happens before QApplication is built.
struct PlatformChoice
{
    explicit PlatformChoice(Windows windows);
    bool chosen = false;
};

// Lets a program that may show a window follow the desktop's display scale.
// A base of Application too, since Qt reads it when QApplication is built.
struct DisplayScale
{
    explicit DisplayScale(Windows windows);
};
} // namespace Detail

// The application object of Orvane's programs. It takes argc and argv first
// and removes Qt's own options from them, so those never count as the
// program's arguments. A display that is not there, or that names no server,
// does not abort it: it comes up on a platform that needs none, and takes
// that choice back at once, so that it does not reach the processes the
// program starts. The user's own choice (QT_QPA_PLATFORM, -platform) stands.
//
// A program that may show a window scales it with the desktop (Qt 6 does so
// by itself): on X11 by the X resource Xft.dpi (without it, Qt 5 takes the
// DPI of the screen's physical size, Qt 6 takes 96); on Windows by the
// system's DPI setting. Every step counts as it is, 125 % as 1.25, so fonts
// and geometry grow together and no text is cut. The user's own QT_SCALE_FACTOR,
// QT_SCREEN_SCALE_FACTORS, QT_ENABLE_HIGHDPI_SCALING and QT_FONT_DPI still
// take effect.
class Application : private Detail::ProcessSetup,
                    private Detail::PlatformChoice,
                    private Detail::DisplayScale,
                    public QApplication
{
public:
    Application(int &argc, char **argv, Windows windows);

    // True when there is no display to show a window on.
    bool isHeadless() const;
};

// Directories searched for Qt's own translations: Qt's installed ones first,
// then those built into the program.
QStringList qtTranslationDirectories();

// Loads Qt's own translation ("qtbase_<language>.qm") for locale from the
// first of directories that has one and installs it, so that Qt's dialogs
// speak the user's language. Returns the translator (owned by the
// application), or nullptr when no directory has a translation.
QTranslator *installQtTranslation(const QLocale &locale = QLocale(),
                                  const QStringList &directories = qtTranslationDirectories());

} // namespace App

#endif // ORVANE_APP_APPLICATION_H
