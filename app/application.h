#ifndef ORVANE_APPLICATION_H
#define ORVANE_APPLICATION_H

#include <QApplication>

namespace Startup {

namespace Detail {
// Chooses a platform plugin that needs no display when the process has none.
// A base of Application, so that it happens before QApplication is built.
struct HeadlessChoice
{
    HeadlessChoice();
    bool chosen = false;
};
} // namespace Detail

// The application object of Orvane's programs. It takes argc and argv first
// and removes Qt's own options from them, so those never count as the
// program's arguments. Without a display it comes up on a platform that needs
// none, and takes that choice back at once, so that it does not reach the
// processes the program starts.
class Application : private Detail::HeadlessChoice, public QApplication
{
public:
    Application(int &argc, char **argv);

    // True when there is no display to show a window on.
    bool isHeadless() const { return chosen; }
};

} // namespace Startup

#endif // ORVANE_APPLICATION_H
