#ifndef ORVANE_WINDOW_ORVANE_H
#define ORVANE_WINDOW_ORVANE_H

#include "ui_orvane.h"

#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QStringList>

// The library-path window: the user keeps the list of directories that hold
// the database client libraries and starts the installer with them added to
// LD_LIBRARY_PATH. The list and the choice not to be asked again live in the
// "libpath" file of the working directory.
class Orvane : public QMainWindow
{
    Q_OBJECT

public:
    // workDirPath: the working directory, where "libpath" lives; installerArgs:
    // the arguments handed to the installer, one each.
    Orvane(const QString &workDirPath, const QStringList &installerArgs, QWidget *parent = nullptr,
           Qt::WindowFlags flags = Qt::WindowFlags());

    // Adds the stored directories (or the default one) to the list and ticks
    // the check box when the user asked not to be asked again. Returns
    // whether the window should be shown.
    bool loadLibPaths();

    // Replaces "libpath" with the list and the check box, all or nothing.
    // On failure returns false, leaves the old file as it was and the reason
    // in lastErrorText().
    bool saveLibPaths();

    // Starts the installer detached with the list appended to LD_LIBRARY_PATH,
    // without saving and without closing the window. On failure returns false
    // with the reason in lastErrorText() (and in the log).
    bool startInstaller();

    // The reason of the last failed save or start.
    QString lastErrorText() const { return errorText; }

    // The object names of the labels, buttons and check box whose text does
    // not fit the room the widget has for it at its current font: empty when
    // the window reads well.
    QStringList clippedTexts() const;

    // A widget's top-left corner in screen coordinates, where tooltips about
    // it are shown.
    static QPoint widgetGlobalPos(const QWidget *widget);

public slots:
    void startClicked();
    void defaultClicked();
    void oClicked();
    void askCheckStateChanged(int state);

private:
    QStringList listedPaths() const;

    Ui::Orvane ui;
    QString errorText;
    QString workDirPath;
    QStringList installerArgs;
};

#endif // ORVANE_WINDOW_ORVANE_H
