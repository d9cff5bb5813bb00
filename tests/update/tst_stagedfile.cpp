// The staged and aside files' names, and the copy of a new version into a
// staged file, on real files.

#include "platform/environment.h"
#include "platform/files.h"
#include "testsupport.h"
#include "update/stagedfile.h"

#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

class TestStagedFile : public QObject
{
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void lookAlikes_data();
    void lookAlikes();
    void copyToStaged_data();
    void copyToStaged();
};

// The one call of copyToStaged: the staged file's path, or an empty text
// with the reason in *reason; *lock holds its lock, or is -1.
static QString copy(const QString &source, const QString &directory, const QString &target,
                    QString *reason, int *lock)
{
    const Platform::Result<Update::StagedFile> staged =
        Update::copyToStaged(source, directory, target);
    *lock = staged.ok() ? staged.value().lock : -1;
    if (!staged.ok())
        *reason = staged.error().text;
    return staged.ok() ? staged.value().path : QString();
}

void TestStagedFile::names_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("kept");   // what of it the staged name keeps
    QTest::addColumn<bool>("asideFits"); // the whole name fits an aside file's
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    const QString l64(64, 'L');

    QTest::newRow("plain") << "a.dll"
                           << "a.dll" << true;
    QTest::newRow("hidden") << ".conf"
                            << ".conf" << true;
    QTest::newRow("64 units: whole") << l64 << l64 << true;
    QTest::newRow("250 units: its first 64") << QString(250, 'L') << l64 << false;
    QTest::newRow("a pair of units at the cut stays whole")
        << QString(63, 'x') + face + 'y' << QString(63, 'x') << true;
    // An aside name keeps the whole name: 1 + 236 + 12 + 6 = 255 bytes.
    QTest::newRow("236 units: the longest aside") << QString(236, 'L') << l64 << true;
    QTest::newRow("237 units: no aside") << QString(237, 'L') << l64 << false;
    // 120 letters of two bytes each: 259 bytes in all.
    QTest::newRow("Cyrillic: bytes count")
        << QString(120, QChar(0x0436)) << QString(64, QChar(0x0436)) << false;
}

// A staged name fits any file system and is known for one again; an aside
// name tells its target, and the two never pass for each other.
void TestStagedFile::names()
{
    QFETCH(QString, target);
    QFETCH(QString, kept);
    QFETCH(bool, asideFits);

    const QString staged = Update::stagedFileName(target, "Ab3dE9");
    QCOMPARE(staged, '.' + kept + ".orvane-new-Ab3dE9");
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
    QTest::newRow("no leading dot") << "c.so.orvane-new-abcdef" << false << "";
    QTest::newRow("five random letters") << ".c.so.orvane-new-abcde" << false << "";
    QTest::newRow("a letter that is not ASCII") << ".c.so.orvane-old-abcdeé" << false << "";
    QTest::newRow("a sign among them") << ".c.so.orvane-new-ab-def" << false << "";
    QTest::newRow("no target name") << ".orvane-old-abcdef" << false << "";
}

void TestStagedFile::lookAlikes()
{
    QFETCH(QString, fileName);
    QFETCH(bool, staged);
    QFETCH(QString, asideTarget);
    QCOMPARE(Update::isStagedFileName(fileName), staged);
    QCOMPARE(Update::asideTargetName(fileName), asideTarget);
}

void TestStagedFile::copyToStaged_data()
{
    QTest::addColumn<QString>("missing"); // "source", "directory" or nothing
    QTest::addColumn<bool>("sizeLimit");
    QTest::addColumn<QString>("reason"); // empty where it works

    QTest::newRow("works") << "" << false << "";
    QTest::newRow("missing source") << "source" << false << "No such file or directory";
    QTest::newRow("missing directory") << "directory" << false << "No such file or directory";
    // The staged file is made, then the copy fails.
    QTest::newRow("the file-size limit is reached") << "" << true << "File too large";
}

// The staged file beside the target holds the new version and stays locked
// until the pass lets go; a failed copy leaves nothing behind.
void TestStagedFile::copyToStaged()
{
    QFETCH(QString, missing);
    QFETCH(bool, sizeLimit);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath("a.so_");
    const QByteArray content(4096, 'n');
    if (missing != "source")
        QVERIFY(writeFile(source, content));
    Platform::failOversizedWrites();
    rlimit limit = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
    const rlimit small{sizeLimit ? 8 : limit.rlim_cur, limit.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);

    QString why;
    int lock = 0;
    const QString staged = copy(
        source, missing == "directory" ? dir.filePath("missing") : dir.path(), "a.so", &why, &lock);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    QCOMPARE(why, reason);
    if (reason.isEmpty()) {
        QCOMPARE(QFileInfo(staged).path(), dir.path());
        QVERIFY(Update::isStagedFileName(QFileInfo(staged).fileName()));
        QCOMPARE(readFile(staged), content);
        QCOMPARE(Platform::fileLockState(staged), Platform::FileLock::Held);
        QVERIFY(lock >= 0 && ::close(lock) == 0);
        QCOMPARE(Platform::fileLockState(staged), Platform::FileLock::Free);
        return;
    }
    QCOMPARE(staged, QString());
    QCOMPARE(lock, -1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             missing == "source" ? QStringList() : QStringList{"a.so_"});
}

QTEST_APPLESS_MAIN(TestStagedFile)
#include "tst_stagedfile.moc"
