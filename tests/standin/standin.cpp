// A stand-in for the programs Orvane starts (the installer, the editor).
// It records what it received in "<own name>-received.json" in its current
// directory and prints the same. With STANDIN_LINGER_MS set it then stays
// alive that long, writes to its standard output and leaves
// "<own name>-finished" behind, which shows that it outlived its parent.
// With STANDIN_HOLD_LOCK set it first takes that lock file as Orvane does,
// says "locked <process id>" and holds it until it is killed.

#include "platform/environment.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QString>
#include <QThread>

#include <cstdio>

static QJsonValue variable(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return QJsonValue(QJsonValue::Null);
    return QString::fromLocal8Bit(qgetenv(name));
}

int main(int argc, char *argv[])
{
    Platform::keepNameBytes();
    if (qEnvironmentVariableIsSet("STANDIN_HOLD_LOCK")) {
        QLockFile lock(QFile::decodeName(qgetenv("STANDIN_HOLD_LOCK")));
        if (!lock.tryLock(0))
            return 1;
        std::printf("locked %lld\n", QCoreApplication::applicationPid());
        std::fflush(stdout);
        for (;;)
            QThread::sleep(60);
    }
    QJsonArray arguments;
    QJsonArray argumentBytes; // exactly as received, in hexadecimal
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
        argumentBytes.append(QString::fromLatin1(QByteArray(argv[i]).toHex()));
    }

    QJsonObject record;
    record.insert(QStringLiteral("arguments"), arguments);
    record.insert(QStringLiteral("argumentBytes"), argumentBytes);
    record.insert(QStringLiteral("cwd"), QDir::currentPath());
    record.insert(QStringLiteral("PATH"), variable("PATH"));
    record.insert(QStringLiteral("LD_LIBRARY_PATH"), variable("LD_LIBRARY_PATH"));
    record.insert(QStringLiteral("QT_QPA_PLATFORM"), variable("QT_QPA_PLATFORM"));
    // Exactly as received, in hexadecimal, for values that are no text.
    for (const char *name : {"LD_LIBRARY_PATH", "STANDIN_PROBE"})
        record.insert(QLatin1String(name) + QStringLiteral("_BYTES"),
                      QString::fromLatin1(qgetenv(name).toHex()));
    const QByteArray json = QJsonDocument(record).toJson();

    const QString name = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
    // Written under a temporary name and renamed, so a reader never sees half.
    QSaveFile out(name + QStringLiteral("-received.json"));
    if (!out.open(QIODevice::WriteOnly) || out.write(json) != json.size() || !out.commit())
        return 1;
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fflush(stdout);

    const int linger = qEnvironmentVariableIntValue("STANDIN_LINGER_MS");
    if (linger > 0) {
        QThread::msleep(static_cast<unsigned long>(linger));
        for (int i = 0; i < 3; ++i) {
            if (std::printf("still running %d\n", i) < 0 || std::fflush(stdout) != 0)
                return 1;
        }
        QFile finished(name + QStringLiteral("-finished"));
        if (!finished.open(QIODevice::WriteOnly))
            return 1;
    }
    return 0;
}
