#ifndef ORVANE_TESTS_TESTSUPPORT_H
#define ORVANE_TESTS_TESTSUPPORT_H

#include "update/commandchain.h"
#include "update/deferredcopy.h"
#include "update/shellchain.h"

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

class QListWidget;

Q_DECLARE_METATYPE(Update::CopyList)

// A temporary installation directory holding a copy of a built program and
// the stand-in installer "Hultrex", for running the program as a real process.
class TempInstallation
{
public:
    // Copies program (a path to a built executable) into the new directory,
    // and installer there under installerName.
    explicit TempInstallation(const QString &program = QStringLiteral(ORVANE_BINARY),
                              const QString &installer = QStringLiteral(STANDIN_BINARY),
                              const QString &installerName = QStringLiteral("Hultrex"));

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString programPath() const { return m_programPath; }
    QString workDir() const { return path() + QStringLiteral("/workdir"); }

    // Copies a built executable into the installation under name.
    bool addExecutable(const QString &source, const QString &name);
    // Writes a file below the installation, creating its directories.
    bool writeFile(const QString &relativePath, const QByteArray &content);
    // The installer's own Qt deployed beside the program: a qt.conf with this
    // content and platform plugins that are garbage.
    bool addInstallersQt(const QByteArray &qtConf);

    struct Result
    {
        bool finished = false;
        int exitCode = -1;
        QByteArray output; // standard output and error, as a user would see them
    };

    // Runs the program with these arguments and waits for it to end. Its
    // standard output is a file, as a terminal would be: children that
    // inherit it may go on writing there after the program has ended.
    Result run(const QStringList &arguments,
               const QProcessEnvironment &environment = testEnvironment(),
               const QString &workingDirectory = QString(), const QStringList &wrapper = {});

    // Output written so far to the standard output file of the last run.
    QByteArray outputSoFar() const;

    // The system environment with the offscreen platform.
    static QProcessEnvironment testEnvironment();

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_outputDir;
    QString m_programPath;
    bool m_valid = false;
};

// A virtual X display (Xvfb) of its own for as long as the object lives.
class VirtualDisplay
{
public:
    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    // Starts the server; on failure returns false and leaves the reason.
    bool start(QString *reason);
    // The value for DISPLAY, such as ":1".
    QString name() const { return m_name; }
    // Runs an X tool on this display with input on its standard input and
    // returns its trimmed output.
    QByteArray runTool(const QString &tool, const QStringList &arguments,
                       const QByteArray &input = QByteArray()) const;
    QByteArray xdotool(const QStringList &arguments) const
    {
        return runTool(QStringLiteral("xdotool"), arguments);
    }
    // The size of a window in pixels of the display.
    QSize windowSize(const QString &window) const;
    // Polls for a visible window with this title (while program runs, when
    // one is given); returns its id, or an empty text when none appeared
    // within timeoutMs.
    QString waitForWindow(const QString &title, const QProcess *program = nullptr,
                          int timeoutMs = 30000) const;
    // Clicks into window at a place relative to it until program has ended
    // (a few tries: a click may come before the window takes input).
    void clickUntilFinished(const QString &window, int x, int y, QProcess &program) const;

private:
    QProcess *m_server = nullptr;
    QString m_name;
};

// The ids of the processes other than this one whose command line mentions
// text.
QList<qint64> processesMentioning(const QString &text);

// Polls until no process other than this one has a command line that
// mentions text; false when one still does after timeoutMs.
bool waitWhileProcessMentions(const QString &text, int timeoutMs);

// Waits for the line that OrvanePaths logs about its window when
// ORVANE_LAYOUT_REPORT is set ("Layout: scale 1.5, texts cut: none") and
// returns it; otherwise, after timeoutMs, the program's output.
QByteArray waitForLayoutReport(QProcess &program, int timeoutMs = 20000);

// Whether size is that of the window's form (400 x 408) at scale, within a
// few pixels of rounding.
bool isScaledFormSize(const QSize &size, double scale);

// The content of a file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// Writes a file whole, creating its directories. Returns whether it worked.
bool writeFile(const QString &path, const QByteArray &content);

// Polls for a file until it exists or timeoutMs has passed.
bool waitForFile(const QString &path, int timeoutMs = 10000);

// Waits for the stand-in's record "<name>-received.json" in dir and parses it.
QJsonObject waitForRecord(const QString &dir, const QString &name = QStringLiteral("Hultrex"),
                          int timeoutMs = 10000);

// An X display name (":N") that no server answers on, like one left behind
// by an SSH session whose forwarding died.
QString deadDisplay();

// The arguments of a stand-in record.
QStringList recordedArguments(const QJsonObject &record);
// The same as the bytes the stand-in received.
QByteArrayList recordedArgumentBytes(const QJsonObject &record);

// env without any variable that names a display or a Qt platform, as on a
// machine without a desktop.
QProcessEnvironment withoutDisplayVariables(QProcessEnvironment env);

// The texts of a list's entries, in order.
QStringList listTexts(const QListWidget *list);

// The child of parent of type T with this object name. A missing one fails
// the test at the caller's line with its name, and a stand-in without parent
// is returned, so that a caller using the result at once goes on to its end
// instead of crashing the whole test program.
template<typename T>
T *child(const QObject &parent, const char *name, const char *file = __builtin_FILE(),
         int line = __builtin_LINE())
{
    if (T *found = parent.findChild<T *>(QString::fromLatin1(name)))
        return found;
    QTest::qFail(qPrintable(QStringLiteral("no child named ") + QLatin1String(name)), file, line);
    return new T;
}

// The user the tests drop to, and the command prefix that runs a program as
// that user.
constexpr unsigned unprivilegedId = 65534;
QStringList unprivilegedWrapper();

// Why a test cannot run a program as the unprivileged user here (not root,
// or no setpriv), or an empty text when it can.
QString cannotDropPrivileges();

// Makes the unprivileged user the effective one for as long as it lives and
// root again when it goes, whatever the test did in between, so that no later
// test runs with the wrong rights. Only root can do this (isActive()).
class AsUnprivileged
{
public:
    AsUnprivileged();
    ~AsUnprivileged();
    AsUnprivileged(const AsUnprivileged &) = delete;
    AsUnprivileged &operator=(const AsUnprivileged &) = delete;
    bool isActive() const { return m_active; }

private:
    bool m_active = false;
};

// Another machine that shares this one's files: its own process, host-name
// and mount namespaces, with a host name and a machine id of its own (bound
// over /etc/machine-id and /var/lib/dbus/machine-id, where Qt reads it), so
// that its process ids mean nothing here. end() kills every process it runs
// at once, as when that machine goes down. Only root can do this.
class OtherMachine
{
public:
    explicit OtherMachine(const QString &hostName = QStringLiteral("machine-b"));
    ~OtherMachine();
    OtherMachine(const OtherMachine &) = delete;
    OtherMachine &operator=(const OtherMachine &) = delete;

    // Why it cannot run here (not root, no unshare), or an empty text.
    static QString cannotRun();
    // Starts command (an absolute program and its arguments) there, with this
    // environment; returns whether it started.
    bool start(const QStringList &command,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Polls for text in what it has written to its standard output.
    bool waitForOutput(const QByteArray &text, int timeoutMs = 10000);
    // Waits for the command to end; whether it ended with exit code 0.
    bool waitForSuccess(int timeoutMs = 30000);
    // Kills every process it runs and returns once all of them are gone
    // (false when that took longer than timeoutMs).
    bool end(int timeoutMs = 10000);
    QString hostName() const { return m_hostName; }
    QByteArray machineId() const { return m_machineId; }

private:
    QTemporaryDir m_dir;
    QString m_hostName;
    QByteArray m_machineId;
    QProcess m_process;
    QByteArray m_output;
};

#define SKIP_UNLESS_OTHER_MACHINE()                                                                \
    do {                                                                                           \
        const QString why = OtherMachine::cannotRun();                                             \
        if (!why.isEmpty())                                                                        \
            QSKIP(qPrintable(why));                                                                \
    } while (false)

// Skips the calling test when it cannot drop to the unprivileged user.
#define SKIP_UNLESS_CAN_DROP_PRIVILEGES()                                                          \
    do {                                                                                           \
        const QString why = cannotDropPrivileges();                                                \
        if (!why.isEmpty())                                                                        \
            QSKIP(qPrintable(why));                                                                \
    } while (false)

#endif // ORVANE_TESTS_TESTSUPPORT_H
