#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

Installation::Installation(const QString &program)
{
    if (!m_dir.isValid() || !m_outputDir.isValid())
        return;
    // Reachable by an unprivileged user too, for the tests that drop to one.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7755));
    m_programPath = m_dir.path() + QLatin1Char('/') + QFileInfo(program).fileName();
    m_valid = QFile::copy(program, m_programPath) &&
              addExecutable(QStringLiteral(STANDIN_BINARY), QStringLiteral("Hultrex"));
}

bool Installation::addExecutable(const QString &source, const QString &name)
{
    const QString target = path() + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    return QFile::copy(source, target) &&
           QFile::setPermissions(target, QFileDevice::Permissions(0x7755));
}

bool Installation::writeFile(const QString &relativePath, const QByteArray &content)
{
    return ::writeFile(path() + QLatin1Char('/') + relativePath, content);
}

Installation::Result Installation::run(const QStringList &arguments,
                                       const QProcessEnvironment &environment,
                                       const QString &workingDirectory, const QStringList &wrapper)
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

QByteArray Installation::outputSoFar() const
{
    QFile file(m_outputDir.filePath(QStringLiteral("stdout")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QProcessEnvironment Installation::testEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
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
