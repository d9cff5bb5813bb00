// The staged and aside files' names, and the copy of a new version into a
// staged file, on real files.

#include "platform/environment.h"
#include "platform/files.h"
#include "testsupport.h"
#include "update/stagedfile.h"

#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

class TestStagedFile : public QObject
{
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void lookAlikes_data();
    void lookAlikes();
    void copyToStaged();
    void failedCopyLeavesNothing_data();
    void failedCopyLeavesNothing();
};

// The one call of copyToStaged: the staged file's path, or an empty text
// with the reason in *reason; *lock holds its lock, or is -1.
static QString copy(const QString &source, const QString &directory, const QString &target,
                    QString *reason, int *lock)
{
    return Update::copyToStaged(source, directory, target, reason, lock);
}

void TestStagedFile::names_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("staged"); // for the random letters "Ab3dE9"
    QTest::addColumn<bool>("asideFits"); // the whole name fits an aside file's
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units

    QTest::newRow("plain") << "a.dll"
                           << ".a.dll.orvane-new-Ab3dE9" << true;
    QTest::newRow("hidden") << ".conf"
                            << "..conf.orvane-new-Ab3dE9" << true;
    QTest::newRow("64 units: whole")
        << QString(64, 'L') << '.' + QString(64, 'L') + ".orvane-new-Ab3dE9" << true;
    QTest::newRow("250 units: its first 64")
        << QString(250, 'L') << '.' + QString(64, 'L') + ".orvane-new-Ab3dE9" << false;
    QTest::newRow("a pair of units at the cut stays whole")
        << QString(63, 'x') + face + 'y' << '.' + QString(63, 'x') + ".orvane-new-Ab3dE9" << true;
    // An aside name keeps the whole name: 1 + 236 + 12 + 6 = 255 bytes.
    QTest::newRow("236 units: the longest aside")
        << QString(236, 'L') << '.' + QString(64, 'L') + ".orvane-new-Ab3dE9" << true;
    QTest::newRow("237 units: no aside")
        << QString(237, 'L') << '.' + QString(64, 'L') + ".orvane-new-Ab3dE9" << false;
    // 120 letters of two bytes each: 259 bytes in all.
    QTest::newRow("Cyrillic: bytes count")
        << QString(120, QChar(0x0436)) << '.' + QString(64, QChar(0x0436)) + ".orvane-new-Ab3dE9"
        << false;
}

// A staged name fits any file system and is known for one again; an aside
// name tells its target, and the two never pass for each other.
void TestStagedFile::names()
{
    QFETCH(QString, target);
    QFETCH(QString, staged);
    QFETCH(bool, asideFits);

    QCOMPARE(Update::stagedFileName(target, "Ab3dE9"), staged);
    QVERIFY(QFile::encodeName(staged).size() <= 255);
    QVERIFY(Update::isStagedFileName(staged));
    QCOMPARE(Update::asideTargetName(staged), QString());

    const QString aside = Update::asideFileName(target);
    QCOMPARE(!aside.isEmpty(), asideFits);
    if (aside.isEmpty())
        return;
    QVERIFY(QFile::encodeName(aside).size() <= 255);
    QCOMPARE(aside.left(aside.size() - 6), '.' + target + ".orvane-old-");
    QCOMPARE(Update::asideTargetName(aside), target);
    QVERIFY(!Update::isStagedFileName(aside));
    QVERIFY(aside != Update::asideFileName(target));
}

void TestStagedFile::lookAlikes_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("staged");
    QTest::addColumn<QString>("asideTarget");

    QTest::newRow("staged") << ".b.so.orvane-new-x0Y1z2" << true << "";
    QTest::newRow("aside") << ".b.so.orvane-old-x0Y1z2" << false << "b.so";
    // The user's files, which the update never removes.
    QTest::newRow("no random letters") << ".c.so.orvane-new-" << false << "";
    QTest::newRow("no random letters, aside") << ".c.so.orvane-old-" << false << "";
    QTest::newRow("no leading dot") << "c.so.orvane-new-abcdef" << false << "";
    QTest::newRow("no leading dot, aside") << "c.so.orvane-old-abcdef" << false << "";
    QTest::newRow("five random letters") << ".c.so.orvane-new-abcde" << false << "";
    QTest::newRow("a letter that is not ASCII") << ".c.so.orvane-old-abcdeé" << false << "";
    QTest::newRow("a sign among them") << ".c.so.orvane-new-ab-def" << false << "";
    QTest::newRow("no target name") << ".orvane-old-abcdef" << false << "";
    QTest::newRow("infix of the other kind in the name")
        << ".c.orvane-new-abcdef.orvane-old-abcdef" << false << "c.orvane-new-abcdef";
}

void TestStagedFile::lookAlikes()
{
    QFETCH(QString, fileName);
    QFETCH(bool, staged);
    QFETCH(QString, asideTarget);
    QCOMPARE(Update::isStagedFileName(fileName), staged);
    QCOMPARE(Update::asideTargetName(fileName), asideTarget);
}

// The staged file beside the target holds the new version with the
// permissions it is to have, and stays locked until the pass lets go.
void TestStagedFile::copyToStaged()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("a.so_");
    QVERIFY(writeFile(source, "new version"));
    QVERIFY(QFile::setPermissions(source, QFileDevice::Permissions(0x6644)));
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const mode_t umaskBefore = ::umask(0);

    QString reason;
    int lock = -1;
    const QString staged = copy(source, dir.path(), "a.so", &reason, &lock);
    ::umask(umaskBefore);
    QVERIFY2(!staged.isEmpty(), qPrintable(reason));
    QCOMPARE(QFileInfo(staged).path(), dir.path());
    QVERIFY(Update::isStagedFileName(QFileInfo(staged).fileName()));
    QCOMPARE(readFile(staged), QByteArray("new version"));
    struct stat status = {};
    QVERIFY(::stat(QFile::encodeName(staged).constData(), &status) == 0);
    QCOMPARE(QString::number(status.st_mode & 07777, 8), QString("744"));
    QVERIFY(lock >= 0);
    QCOMPARE(Platform::fileLockState(staged), Platform::FileLock::Held);
    QVERIFY(Platform::closeFile(lock, &reason));
    QCOMPARE(Platform::fileLockState(staged), Platform::FileLock::Free);
}

void TestStagedFile::failedCopyLeavesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing source") << "source"
                                    << "No such file or directory";
    QTest::newRow("missing directory") << "directory"
                                       << "No such file or directory";
    // The staged file is made, then the copy fails.
    QTest::newRow("the file-size limit is reached") << "limit"
                                                    << "File too large";
}

void TestStagedFile::failedCopyLeavesNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("a.so_");
    if (kind != "source")
        QVERIFY(writeFile(source, QByteArray(4096, 'n')));
    Platform::failOversizedWrites();
    rlimit limit = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
    const rlimit small{kind == "limit" ? 8 : limit.rlim_cur, limit.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);

    QString why;
    int lock = 0;
    const QString staged = copy(source, kind == "directory" ? dir.filePath("missing") : dir.path(),
                                "a.so", &why, &lock);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    QCOMPARE(staged, QString());
    QCOMPARE(why, reason);
    QCOMPARE(lock, -1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             kind == "source" ? QStringList() : QStringList{"a.so_"});
}

QTEST_APPLESS_MAIN(TestStagedFile)
#include "tst_stagedfile.moc"
