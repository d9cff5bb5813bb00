#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>

#include <unistd.h>

TempInstallation::TempInstallation(const QString &program, const QString &installer,
                                   const QString &installerName)
{
    if (!m_dir.isValid() || !m_outputDir.isValid())
        return;
    // Reachable by an unprivileged user too, for the tests that drop to one.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7755));
    m_programPath = m_dir.path() + QLatin1Char('/') + QFileInfo(program).fileName();
    m_valid = QFile::copy(program, m_programPath) && addExecutable(installer, installerName);
}

bool TempInstallation::addExecutable(const QString &source, const QString &name)
{
    const QString target = path() + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    return QFile::copy(source, target) &&
           QFile::setPermissions(target, QFileDevice::Permissions(0x7755));
}

bool TempInstallation::writeFile(const QString &relativePath, const QByteArray &content)
{
    return ::writeFile(path() + QLatin1Char('/') + relativePath, content);
}

bool TempInstallation::addInstallersQt(const QByteArray &qtConf)
{
    return writeFile(QStringLiteral("qt.conf"), qtConf) &&
           writeFile(QStringLiteral("platforms/qwindows.dll"), "garbage") &&
           writeFile(QStringLiteral("plugins/platforms/libqxcb.so"), "garbage");
}

TempInstallation::Result TempInstallation::run(const QStringList &arguments,
                                               const QProcessEnvironment &environment,
                                               const QString &workingDirectory,
                                               const QStringList &wrapper)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory.isEmpty() ? path() : workingDirectory);
    // Both channels append, so that what the program's children write later
    // does not overwrite what the program wrote before.
    const QString output = m_outputDir.filePath(QStringLiteral("stdout"));
    QFile::remove(output);
    process.setStandardOutputFile(output, QIODevice::Append);
    process.setStandardErrorFile(output, QIODevice::Append);
    if (wrapper.isEmpty()) {
        process.start(m_programPath, arguments);
    } else {
        process.start(wrapper.first(), wrapper.mid(1) + QStringList{m_programPath} + arguments);
    }

    Result result;
    result.finished = process.waitForFinished(30000);
    if (!result.finished)
        process.kill();
    else if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = outputSoFar();
    return result;
}

QByteArray TempInstallation::outputSoFar() const
{
    return readFile(m_outputDir.filePath(QStringLiteral("stdout")));
}

QProcessEnvironment TempInstallation::testEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

QByteArray waitForLayoutReport(QProcess &program, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray output;
    while (timer.elapsed() < timeoutMs && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        output += program.readAll();
        const int start = output.indexOf("Layout: ");
        if (start >= 0 && output.indexOf('\n', start) > start)
            return output.mid(start, output.indexOf('\n', start) - start).trimmed();
    }
    return output;
}

bool isScaledFormSize(const QSize &size, double scale)
{
    const int tolerance = 3;
    return qAbs(size.width() - 400 * scale) <= tolerance &&
           qAbs(size.height() - 408 * scale) <= tolerance;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool waitForFile(const QString &path, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(path)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QJsonObject waitForRecord(const QString &dir, const QString &name, int timeoutMs)
{
    QFile file(dir + QLatin1Char('/') + name + QStringLiteral("-received.json"));
    if (!waitForFile(file.fileName(), timeoutMs) || !file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QStringList recordedArguments(const QJsonObject &record)
{
    QStringList arguments;
    const QJsonArray array = record.value(QStringLiteral("arguments")).toArray();
    for (const QJsonValue &value : array)
        arguments.append(value.toString());
    return arguments;
}

QByteArrayList recordedArgumentBytes(const QJsonObject &record)
{
    QByteArrayList arguments;
    const QJsonArray array = record.value(QStringLiteral("argumentBytes")).toArray();
    for (const QJsonValue &value : array)
        arguments.append(QByteArray::fromHex(value.toString().toLatin1()));
    return arguments;
}

QProcessEnvironment withoutDisplayVariables(QProcessEnvironment env)
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

QStringList unprivilegedWrapper()
{
    const QString id = QString::number(unprivilegedId);
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=") + id,
            QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups")};
}

QString cannotDropPrivileges()
{
    if (geteuid() != 0)
        return QStringLiteral("dropping to an unprivileged user needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv is not installed");
    return QString();
}

AsUnprivileged::AsUnprivileged()
    : m_active(::seteuid(unprivilegedId) == 0)
{
}

AsUnprivileged::~AsUnprivileged()
{
    if (m_active && ::seteuid(0) != 0)
        qFatal("cannot become root again");
}

VirtualDisplay::~VirtualDisplay()
{
    if (!m_server)
        return;
    m_server->terminate();
    m_server->waitForFinished();
    delete m_server;
}

bool VirtualDisplay::start(QString *reason)
{
    for (const char *tool : {"Xvfb", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            *reason = QString::fromLatin1(tool) + QStringLiteral(" is not installed");
            return false;
        }
    }
    m_server = new QProcess;
    // The server chooses a free display number and writes it to the pipe. It
    // keeps its X resources when the last client goes, as a desktop's does.
    m_server->start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1920x1200x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                     QStringLiteral("-noreset")});
    QByteArray number;
    while (!number.contains('\n') && m_server->waitForReadyRead(10000))
        number += m_server->readAllStandardOutput();
    if (number.trimmed().isEmpty()) {
        *reason = QString::fromLocal8Bit(m_server->readAllStandardError());
        return false;
    }
    m_name = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}

QByteArray VirtualDisplay::runTool(const QString &tool, const QStringList &arguments,
                                   const QByteArray &input) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_name);
    process.setProcessEnvironment(environment);
    process.start(tool, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    return process.readAllStandardOutput().trimmed();
}

QSize VirtualDisplay::windowSize(const QString &window) const
{
    // "Geometry: 600x612" among the lines.
    const QByteArray geometry = xdotool({QStringLiteral("getwindowgeometry"), window});
    const QList<QByteArray> size = geometry.mid(geometry.indexOf("Geometry: ") + 10).split('x');
    return size.size() == 2 ? QSize(size.at(0).toInt(), size.at(1).toInt()) : QSize();
}

QString VirtualDisplay::waitForWindow(const QString &title, const QProcess *program,
                                      int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while ((!program || program->state() == QProcess::Running) && timer.elapsed() < timeoutMs) {
        const QByteArray found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--name"), title});
        if (!found.isEmpty())
            return QString::fromLatin1(found.split('\n').first());
        QTest::qWait(50);
    }
    return QString();
}

void VirtualDisplay::clickUntilFinished(const QString &window, int x, int y,
                                        QProcess &program) const
{
    for (int attempt = 0; attempt < 5 && program.state() != QProcess::NotRunning; ++attempt) {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                 QString::number(x), QString::number(y), QStringLiteral("click"),
                 QStringLiteral("1")});
        program.waitForFinished(3000);
    }
}

QString deadDisplay()
{
    // A server listens on a socket in /tmp/.X11-unix, or on the abstract
    // socket of the same name that /proc/net/unix lists.
    const QByteArray sockets = readFile(QStringLiteral("/proc/net/unix"));
    for (int number = 150;; ++number) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (!QFileInfo::exists(socket) && !sockets.contains(socket.toUtf8() + '\n'))
            return QStringLiteral(":%1").arg(number);
    }
}

QList<qint64> processesMentioning(const QString &text)
{
    const QByteArray needle = QFile::encodeName(text);
    QList<qint64> found;
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString cmdline = processes.next() + QStringLiteral("/cmdline");
        if (processes.fileName() != QString::number(QCoreApplication::applicationPid()) &&
            readFile(cmdline).contains(needle))
            found.append(processes.fileName().toLongLong());
    }
    return found;
}

bool waitWhileProcessMentions(const QString &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!processesMentioning(text).isEmpty()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

OtherMachine::OtherMachine(const QString &hostName)
    : m_hostName(hostName)
    , m_machineId(QUuid::createUuid().toRfc4122().toHex())
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

OtherMachine::~OtherMachine()
{
    end();
}

QString OtherMachine::cannotRun()
{
    if (geteuid() != 0)
        return QStringLiteral("another machine's namespaces need root");
    if (!QFileInfo(QStringLiteral("/usr/bin/unshare")).isExecutable())
        return QStringLiteral("unshare is not installed");
    if (!QFileInfo::exists(QStringLiteral("/etc/machine-id")))
        return QStringLiteral("this machine has no /etc/machine-id to stand in for");
    return QString();
}

bool OtherMachine::start(const QStringList &command, const QProcessEnvironment &environment)
{
    const QString idFile = m_dir.filePath(QStringLiteral("machine-id"));
    if (!m_dir.isValid() || !writeFile(idFile, m_machineId + '\n'))
        return false;
    // The host name is set through the kernel's own file: no tool is needed.
    static const char script[] =
        "printf '%s' \"$1\" >/proc/sys/kernel/hostname && "
        "mount --bind \"$2\" /etc/machine-id && "
        "if [ -e /var/lib/dbus/machine-id ]; then mount --bind \"$2\" /var/lib/dbus/machine-id; fi "
        "&& shift 2 && exec \"$@\"";
    m_process.setProcessEnvironment(environment);
    m_process.start(QStringLiteral("/usr/bin/unshare"),
                    QStringList{QStringLiteral("--pid"), QStringLiteral("--uts"),
                                QStringLiteral("--mount"), QStringLiteral("--fork"),
                                QStringLiteral("--mount-proc"), QStringLiteral("--kill-child"),
                                QStringLiteral("--"), QStringLiteral("/bin/sh"),
                                QStringLiteral("-c"), QString::fromLatin1(script),
                                QStringLiteral("other-machine"), m_hostName, idFile} +
                        command);
    return m_process.waitForStarted();
}

bool OtherMachine::waitForOutput(const QByteArray &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!m_output.contains(text)) {
        if (timer.elapsed() >= timeoutMs || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(100);
        m_output += m_process.readAllStandardOutput();
    }
    return true;
}

bool OtherMachine::waitForSuccess(int timeoutMs)
{
    return m_process.waitForFinished(timeoutMs) && m_process.exitStatus() == QProcess::NormalExit &&
           m_process.exitCode() == 0;
}

// Whether the process with this id (as this machine numbers it) has ended:
// gone, or a zombie nobody has reaped yet.
static bool processEnded(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int end = stat.lastIndexOf(')');
    return end < 0 || stat.mid(end + 2, 1) == "Z";
}

bool OtherMachine::end(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    // The first process of the namespaces, unshare's child: once it has
    // ended, the system has killed every other one there.
    const qint64 unshare = m_process.processId();
    const qint64 first = readFile(QStringLiteral("/proc/%1/task/%1/children").arg(unshare))
                             .trimmed()
                             .split(' ')
                             .value(0)
                             .toLongLong();
    m_process.kill(); // --kill-child: its child is killed with it
    m_process.waitForFinished();
    QElapsedTimer timer;
    timer.start();
    while (first > 0 && !processEnded(first)) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}
