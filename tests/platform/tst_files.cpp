// The file calls of the platform layer on real files: what each makes of
// whatever stands at its path, and what it leaves when it fails.

#include "platform/environment.h"
#include "platform/files.h"
#include "testsupport.h"

#include <QtTest>

#include <optional>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::optional<QByteArray>)
Q_DECLARE_METATYPE(Platform::FileLock)

// Each call of a function that hands back an error goes through here, which
// puts it in the shape the tables check: whether it worked, and the text.
struct Call
{
    static int descriptorOf(const Platform::Result<int> &result, QString *why)
    {
        if (result.ok())
            return result.value();
        *why = result.error().text;
        return -1;
    }
    static bool worked(const Platform::Failure &failed, QString *why)
    {
        if (failed)
            *why = failed->text;
        return !failed;
    }
    static int openForWriting(const QString &path, QString *why)
    {
        return descriptorOf(Platform::openRegularFileForWriting(path), why);
    }
    static bool oneStep(const QString &path, const QByteArray &data, QString *why)
    {
        return worked(Platform::writeFileInOneStep(path, data), why);
    }
    static int create(const QString &path, bool *taken, QString *why)
    {
        const Platform::Result<int> created = Platform::createNewFile(path);
        *taken = !created.ok() && Platform::isNameTaken(created.error());
        return descriptorOf(created, why);
    }
    static bool rename(const QString &from, const QString &to, QString *why)
    {
        return worked(Platform::renameFile(from, to), why);
    }
    static int lock(const QString &path, bool *held, QString *why)
    {
        const Platform::Result<int> locked = Platform::lockFile(path);
        *held = !locked.ok() && Platform::isLockHeld(locked.error());
        return descriptorOf(locked, why);
    }
    static bool removeUnheld(const QString &path, QString *why)
    {
        return worked(Platform::removeUnheldFile(path), why);
    }
};

static QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void readRegularFileLimit();
    void renameFile_data();
    void renameFile();
    void fileLocks_data();
    void fileLocks();
    void holdFileLock_data();
    void holdFileLock();
    void longPathForm_data();
    void longPathForm();

private:
    // Lays out kind at "target" in a new directory beside "elsewhere", the
    // user's file that a link names; returns the target's path.
    QString lay(const QString &kind);

    QTemporaryDir m_root;
    QString m_dir;
    int m_reader = -1; // holds a FIFO open for reading
};

QString TestFiles::lay(const QString &kind)
{
    static int run = 0;
    if (m_reader >= 0)
        ::close(m_reader);
    m_reader = -1;
    m_dir = m_root.path() + '/' + QString::number(++run);
    const QString path = m_dir + "/target";
    const QByteArray name = QFile::encodeName(path);
    const QString elsewhere = m_dir + "/elsewhere";
    if (!QDir().mkpath(m_dir) || (kind.startsWith("link") && !writeFile(elsewhere, "the user's")))
        return QString();
    bool laid = true;
    if (kind.startsWith("file"))
        laid = writeFile(path, "old");
    else if (kind == "link" || kind == "dangling link")
        laid = QFile::link(elsewhere, path);
    else if (kind == "device link")
        laid = QFile::link("/dev/zero", path);
    else if (kind.contains("fifo"))
        laid = ::mkfifo(name.constData(), 0644) == 0 &&
               (kind != "read fifo" ||
                (m_reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0);
    else if (kind == "directory")
        laid = QDir().mkpath(path + "/inside");
    else if (kind == "no directory")
        return m_dir + "/missing/target";
    return laid ? path : QString();
}

void TestFiles::kinds_data()
{
    // What stands at the path.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<std::optional<QByteArray>>("read"); // readRegularFile
    // The reasons of the failures, empty where the call works.
    QTest::addColumn<QString>("opened");  // openRegularFileForWriting
    QTest::addColumn<QString>("oneStep"); // writeFileInOneStep
    QTest::addColumn<QString>("created"); // createNewFile

    const QString ok; // the call works
    const QString notRegular = "Not a regular file";
    const QString taken = "File exists";
    const QString noDirectory = "No such file or directory";
    const std::optional<QByteArray> none;
    const auto old = std::optional<QByteArray>("old");
    QTest::newRow("nothing") << "missing" << none << ok << ok << ok;
    QTest::newRow("a file") << "file" << old << ok << ok << taken;
    QTest::newRow("a file, the file-size limit reached")
        << "file limit" << old << ok << "File too large" << taken;
    // A link is read through, but never written through: it is replaced.
    QTest::newRow("a link to a file")
        << "link" << std::optional<QByteArray>("the user's") << notRegular << ok << taken;
    QTest::newRow("a link to nothing") << "dangling link" << none << notRegular << ok << taken;
    // Never waited for, never read without end.
    QTest::newRow("a FIFO") << "fifo" << none << notRegular << ok << taken;
    QTest::newRow("a FIFO somebody reads") << "read fifo" << none << notRegular << ok << taken;
    QTest::newRow("a link to an endless device")
        << "device link" << none << notRegular << ok << taken;
    QTest::newRow("a directory") << "directory" << none << "Is a directory"
                                 << "Is a directory" << taken;
    QTest::newRow("no directory") << "no directory" << none << noDirectory << noDirectory
                                  << noDirectory;
}

void TestFiles::kinds()
{
    QFETCH(QString, kind);
    QFETCH(std::optional<QByteArray>, read);
    QFETCH(QString, opened);
    QFETCH(QString, oneStep);
    QFETCH(QString, created);
    QVERIFY(m_root.isValid());
    const auto closeReader = qScopeGuard([this] {
        if (m_reader >= 0)
            ::close(m_reader);
        m_reader = -1;
    });
    Platform::failOversizedWrites();
    rlimit limit = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
    const rlimit small{kind == "file limit" ? 8 : limit.rlim_cur, limit.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    const auto restoreLimit = qScopeGuard([&limit] { ::setrlimit(RLIMIT_FSIZE, &limit); });
    // What stands beside the path stays as it was.
    const auto besideUnchanged = [this, kind] {
        return readFile(m_dir + "/elsewhere") ==
                   (kind == "link" ? QByteArray("the user's") : QByteArray()) &&
               QFileInfo::exists(m_dir + "/elsewhere") == (kind == "link");
    };

    QString path;
    const auto fresh = [this, &kind, &path] {
        path = lay(kind);
        return !path.isEmpty();
    };
    QVERIFY(fresh());
    QCOMPARE(Platform::readRegularFile(path, 1024), read);

    QVERIFY(fresh());
    QString reason;
    const int descriptor = Call::openForWriting(path, &reason);
    QCOMPARE(reason, opened);
    QCOMPARE(descriptor >= 0, opened.isEmpty());
    if (descriptor >= 0) {
        // Emptied before the write.
        QVERIFY(::write(descriptor, "x", 1) == 1);
        QVERIFY(::close(descriptor) == 0);
        QCOMPARE(readFile(path), QByteArray("x"));
    }
    QVERIFY(besideUnchanged());

    QVERIFY(fresh());
    QStringList before = entries(m_dir);
    reason.clear();
    QCOMPARE(Call::oneStep(path, "new content", &reason), oneStep.isEmpty());
    QCOMPARE(reason, oneStep);
    QVERIFY(besideUnchanged());
    if (oneStep.isEmpty()) {
        QCOMPARE(readFile(path), QByteArray("new content"));
        QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
        if (!before.contains("target")) {
            before.append("target");
            before.sort();
        }
    } else if (kind.startsWith("file")) {
        QCOMPARE(readFile(path), QByteArray("old"));
    }
    // Nothing is left beside it.
    QCOMPARE(entries(m_dir), before);

    QVERIFY(fresh());
    before = entries(m_dir);
    bool nameTaken = false;
    reason.clear();
    const int newFile = Call::create(path, &nameTaken, &reason);
    QCOMPARE(reason, created);
    QCOMPARE(nameTaken, created == "File exists");
    QVERIFY(besideUnchanged());
    if (newFile >= 0) {
        QVERIFY(::close(newFile) == 0);
        QCOMPARE(QFileInfo(path).permissions() & 0x0777, QFileDevice::Permissions(0x0600));
    } else {
        QCOMPARE(entries(m_dir), before);
    }
}

// Up to maxBytes, however the file tells its size: the kernel's files tell
// none.
void TestFiles::readRegularFileLimit()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("file");
    QVERIFY(writeFile(path, "12345"));
    QCOMPARE(Platform::readRegularFile(path, 5), std::optional<QByteArray>("12345"));
    QCOMPARE(Platform::readRegularFile(path, 4), std::optional<QByteArray>());
    QFile own("/proc/self/cmdline");
    QVERIFY(own.open(QIODevice::ReadOnly));
    const std::optional<QByteArray> cmdline = Platform::readRegularFile(own.fileName(), 1 << 20);
    QVERIFY(cmdline && !cmdline->isEmpty());
    QCOMPARE(*cmdline, own.readAll());
}

void TestFiles::renameFile_data()
{
    QTest::addColumn<QString>("to");     // what has the name: "missing", "file"
    QTest::addColumn<QString>("reason"); // empty where it works

    // Replacing a name is the pass's own step, tested with it; a rename
    // never replaces one.
    QTest::newRow("a new name") << "missing" << QString();
    QTest::newRow("the name is taken") << "file"
                                       << "File exists";
}

void TestFiles::renameFile()
{
    QFETCH(QString, to);
    QFETCH(QString, reason);

    const QString target = lay(to);
    QVERIFY(!target.isEmpty());
    const QString source = m_dir + "/source";
    QVERIFY(writeFile(source, "new"));
    QString why;
    const bool done = Call::rename(source, target, &why);
    QCOMPARE(why, reason);
    QCOMPARE(done, reason.isEmpty());
    // The name holds the one or the other, whole.
    QCOMPARE(readFile(target), QByteArray(done ? "new" : "old"));
    QCOMPARE(QFileInfo::exists(source), !done);
}

void TestFiles::fileLocks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Platform::FileLock>("state");
    QTest::addColumn<QString>("reason"); // why removeUnheldFile does not remove it

    using Platform::FileLock;
    QTest::newRow("nobody holds it") << "file" << FileLock::Free << "";
    QTest::newRow("a living process holds it")
        << "file held" << FileLock::Held << "Held by a running process";
    QTest::newRow("missing") << "missing" << FileLock::Unknown << "No such file or directory";
    QTest::newRow("a FIFO") << "fifo" << FileLock::Unknown << "Not a regular file";
    QTest::newRow("a link") << "link" << FileLock::Unknown << "Not a regular file";
    QTest::newRow("a directory") << "directory" << FileLock::Unknown << "Is a directory";
}

// Only a file whose lock nobody holds is removed, and never what a link
// names.
void TestFiles::fileLocks()
{
    QFETCH(QString, kind);
    QFETCH(Platform::FileLock, state);
    QFETCH(QString, reason);

    const QString path = lay(kind);
    QVERIFY(!path.isEmpty());
    int held = -1;
    QString why;
    if (kind == "file held") {
        bool heldByOther = true;
        held = Call::lock(path, &heldByOther, &why);
        QVERIFY2(held >= 0 && !heldByOther, qPrintable(why));
        QCOMPARE(Call::lock(path, &heldByOther, &why), -1);
        QVERIFY(heldByOther);
    }
    QCOMPARE(Platform::fileLockState(path), state);
    why.clear();
    QCOMPARE(Call::removeUnheld(path, &why), reason.isEmpty());
    QCOMPARE(why, reason);
    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(),
             !reason.isEmpty() && kind != "missing");
    QCOMPARE(QFileInfo::exists(m_dir + "/elsewhere"), kind == "link");
    if (held >= 0) {
        // Let go, however it ends.
        QVERIFY(::close(held) == 0);
        QCOMPARE(Platform::fileLockState(path), Platform::FileLock::Free);
        QVERIFY(Call::removeUnheld(path, &why));
    }
}

void TestFiles::holdFileLock_data()
{
    QTest::addColumn<QString>("meanwhile"); // between the file's creation and its lock
    QTest::addColumn<bool>("lost");

    QTest::newRow("nothing") << "" << false;
    QTest::newRow("another run removed it, a third made it anew") << "made anew" << true;
    QTest::newRow("another run is removing it") << "locked" << true;
}

// The new file's lock outlives its descriptor, and a name that is no longer
// the caller's file is lost.
void TestFiles::holdFileLock()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, lost);

    const QString path = lay("missing");
    bool nameTaken = false;
    QString reason;
    const int descriptor = Call::create(path, &nameTaken, &reason);
    QVERIFY2(descriptor >= 0, qPrintable(reason));
    int remover = -1;
    if (meanwhile == "made anew") {
        QVERIFY(QFile::remove(path));
        QVERIFY(writeFile(path, "a third run's"));
    } else if (meanwhile == "locked") {
        bool heldByOther = false;
        remover = Call::lock(path, &heldByOther, &reason);
        QVERIFY(remover >= 0);
    }
    bool isLost = !lost;
    const int held = Platform::holdFileLock(descriptor, path, &isLost);
    QVERIFY(::close(descriptor) == 0);
    QCOMPARE(isLost, lost);
    QCOMPARE(held >= 0, !lost);
    if (remover >= 0)
        QVERIFY(::close(remover) == 0);
    QCOMPARE(Platform::fileLockState(path),
             lost ? Platform::FileLock::Free : Platform::FileLock::Held);
    if (held >= 0) {
        QVERIFY(::close(held) == 0);
        QCOMPARE(Platform::fileLockState(path), Platform::FileLock::Free);
    }
}

void TestFiles::longPathForm_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    // 248 units and more need the long form; "d" * n is a name of n units.
    const auto d = [](int n) { return QString(n, 'd'); };
    QTest::newRow("short: backslashes only") << "C:/app/a.dll"
                                             << "C:\\app\\a.dll";
    QTest::newRow("247 units: as it is") << "C:/" + d(244) << "C:\\" + d(244);
    QTest::newRow("248 units: long form") << "C:/" + d(245) << "\\\\?\\C:\\" + d(245);
    QTest::newRow("drive, mixed separators, doubled ones")
        << "C:\\app//" + d(250) + "\\a.dll"
        << "\\\\?\\C:\\app\\" + d(250) + "\\a.dll";
    QTest::newRow("dot and dot-dot resolved, never above the drive")
        << "C:/../app/./x/../" + d(250) << "\\\\?\\C:\\app\\" + d(250);
    QTest::newRow("share") << "//server/share/app/" + d(250)
                           << "\\\\?\\UNC\\server\\share\\app\\" + d(250);
    QTest::newRow("share, dot-dot stops at its name")
        << "\\\\server\\share\\..\\" + d(250) << "\\\\?\\UNC\\server\\share\\" + d(250);
    QTest::newRow("already long form") << "\\\\?\\C:\\" + d(250) << "\\\\?\\C:\\" + d(250);
    QTest::newRow("relative: no long form") << "app/" + d(250) << "app\\" + d(250);
    QTest::newRow("server without a share: as it is") << "//" + d(250) << "\\\\" + d(250);
}

// Paths the program hands to the Windows API itself pass MAX_PATH without
// the system's long-path opt-in.
void TestFiles::longPathForm()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Platform::longPathForm(path), expected);
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
