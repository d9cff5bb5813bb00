// The update's lock file: taken when free or abandoned, waited for while a
// living process holds it, refused at once when something else has its name.

#include "testsupport.h"
#include "update/updatelock.h"

#include <QtTest>

#include <sys/stat.h>

// What came of taking the lock: Unavailable when no lock can be made.
enum class Taken { Held, TakenByOther, Unavailable };
Q_DECLARE_METATYPE(Taken)

class TestUpdateLock : public QObject
{
    Q_OBJECT

private slots:
    void takeLock_data();
    void takeLock();
};

// The one call of takeLock: what came of it, with the reason in *reason.
static Taken take(QLockFile &lock, const QString &path, int waitMs, QString *reason)
{
    const Platform::Result<Update::Lock> taken = Update::takeLock(lock, path, waitMs);
    if (!taken.ok()) {
        *reason = taken.error().text;
        return Taken::Unavailable;
    }
    return taken.value() == Update::Lock::Held ? Taken::Held : Taken::TakenByOther;
}

void TestUpdateLock::takeLock_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<Taken>("result");
    QTest::addColumn<QString>("reason");
    // Who the lock says holds it afterwards: "self", "child", or "nobody"
    // (an owner that cannot be read).
    QTest::addColumn<QString>("holder");

    using Lock = Taken;
    QTest::newRow("free") << "nothing" << Lock::Held << ""
                          << "self";
    QTest::newRow("held by a living process") << "child" << Lock::TakenByOther << ""
                                              << "child";
    QTest::newRow("left by a process that died") << "dead child" << Lock::Held << ""
                                                 << "self";
    QTest::newRow("left empty by a run killed while taking it") << "old empty" << Lock::Held << ""
                                                                << "self";
    QTest::newRow("empty, of a run taking it now") << "new empty" << Lock::TakenByOther << ""
                                                   << "nobody";
    // No lock file: waiting would not change it, reading it might hang.
    QTest::newRow("a directory") << "directory" << Lock::Unavailable << "Is a directory"
                                 << "";
    QTest::newRow("a FIFO") << "fifo" << Lock::Unavailable << "Not a regular file"
                            << "";
    QTest::newRow("a link to a file") << "link" << Lock::Unavailable << "Not a regular file"
                                      << "";
    QTest::newRow("a link to nothing")
        << "dangling link" << Lock::Unavailable << "Not a regular file"
        << "";
}

void TestUpdateLock::takeLock()
{
    QFETCH(QString, before);
    QFETCH(Taken, result);
    QFETCH(QString, reason);
    QFETCH(QString, holder);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = Update::lockFilePath(dir.path());
    QCOMPARE(path, dir.path() + "/Orvane.lock");
    const QString elsewhere = dir.filePath("elsewhere");
    QProcess child;
    const auto stopChild = qScopeGuard([&child] {
        child.kill();
        child.waitForFinished();
    });
    if (before.endsWith("child")) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("STANDIN_HOLD_LOCK", path);
        child.setProcessEnvironment(environment);
        child.start(STANDIN_BINARY, QStringList());
        QVERIFY(child.waitForReadyRead(10000));
        QVERIFY(child.readAllStandardOutput().startsWith("locked "));
        if (before == "dead child") {
            child.kill();
            QVERIFY(child.waitForFinished());
        }
    } else if (before.endsWith("empty")) {
        QVERIFY(writeFile(path, QByteArray()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (before == "old empty")
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                     QFileDevice::FileModificationTime));
    } else if (before == "directory") {
        QVERIFY(QDir().mkpath(path));
    } else if (before == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
    } else if (before == "link") {
        QVERIFY(writeFile(elsewhere, "the user's"));
        QVERIFY(QFile::link(elsewhere, path));
    } else if (before == "dangling link") {
        QVERIFY(QFile::link(elsewhere, path));
    }

    const int waitMs = 1000;
    const mode_t umaskBefore = ::umask(077);
    QLockFile lock(path);
    QString why;
    QElapsedTimer timer;
    timer.start();
    const Taken taken = take(lock, path, waitMs, &why);
    const qint64 elapsed = timer.elapsed();
    ::umask(umaskBefore);

    QCOMPARE(taken, result);
    QCOMPARE(why, reason);
    if (taken == Taken::Unavailable) {
        QVERIFY2(elapsed < waitMs / 2, qPrintable(QString::number(elapsed)));
        // Left as it was.
        QCOMPARE(QFileInfo(path).isDir(), before == "directory");
        QCOMPARE(QFileInfo(path).isSymLink(), before.endsWith("link"));
        QCOMPARE(QFileInfo::exists(elsewhere), before == "link");
        if (before == "link")
            QCOMPARE(readFile(elsewhere), QByteArray("the user's"));
        return;
    }
    if (taken == Taken::TakenByOther)
        QVERIFY2(elapsed >= waitMs, qPrintable(QString::number(elapsed)));
    const Update::LockHolder owner = Update::lockHolder(lock);
    const qint64 pid = holder == "self"    ? QCoreApplication::applicationPid()
                       : holder == "child" ? child.processId()
                                           : 0;
    QCOMPARE(owner.pid, pid);
    QCOMPARE(owner.host, pid == 0 ? QString() : QSysInfo::machineHostName());
    if (taken == Taken::Held) {
        // Whatever the umask, another user's run may read who holds it.
        struct stat status = {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &status) == 0);
        QCOMPARE(QString::number(status.st_mode & 0777, 8), QString("644"));
    }
}

QTEST_GUILESS_MAIN(TestUpdateLock)
#include "tst_updatelock.moc"
