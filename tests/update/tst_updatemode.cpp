// End-to-end runs of the built Orvane in self-update mode, in a temporary
// installation directory with the stand-in installer beside it.

#include "testsupport.h"

#include <QtTest>

#include <unistd.h>

class TestUpdateMode : public QObject
{
    Q_OBJECT

private slots:
    void updateRestartsTheProgram_data();
    void updateRestartsTheProgram();
    void missingSourcesOpenTheEditor();
    void withoutEditorTheLogNamesTheFile();
    void errorFileFailures_data();
    void errorFileFailures();
    void fileInUseIsCopiedLater();
};

// The program as "./Orvane" from the installation directory: a relative path
// that no longer names it once the working directory has been entered.
static const QStringList relativeStart{"/bin/sh", "-c", "shift; exec ./Orvane \"$@\"", "sh"};

// Environment whose PATH starts with dir.
static QProcessEnvironment withPathFirst(const QString &dir)
{
    QProcessEnvironment environment = Installation::testEnvironment();
    environment.insert("PATH", dir + ':' + environment.value("PATH"));
    return environment;
}

void TestUpdateMode::updateRestartsTheProgram_data()
{
    QTest::addColumn<QStringList>("names");

    QTest::newRow("no names") << QStringList();
    QTest::newRow("the program itself and a library in a new directory")
        << QStringList{"Orvane", "plugins/sql/x.so"};
}

void TestUpdateMode::updateRestartsTheProgram()
{
    QFETCH(QStringList, names);
    Installation installation;
    QVERIFY(installation.isValid());
    // A new version of the program: the built one with a few bytes appended,
    // which keeps it runnable.
    const QByteArray newProgram = readFile(installation.programPath()) + "new version";
    QVERIFY(writeFile(installation.workDir() + "/Orvane_", newProgram));
    QVERIFY(writeFile(installation.workDir() + "/plugins/sql/x.so_", "new library"));

    const Installation::Result result = installation.run(
        QStringList{"-r"} + names, Installation::testEnvironment(), QString(), relativeStart);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.contains("Success!\n"), result.output.constData());

    // The restarted program runs in normal mode: the installer gets no arguments.
    const QJsonObject record = waitForRecord(installation.workDir());
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList());
    if (names.contains("Orvane")) {
        QCOMPARE(readFile(installation.programPath()), newProgram);
        QCOMPARE(readFile(installation.path() + "/plugins/sql/x.so"), QByteArray("new library"));
    }
    QVERIFY(!QFile::exists(installation.workDir() + "/Orvane.err"));
}

void TestUpdateMode::missingSourcesOpenTheEditor()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    QVERIFY(installation.writeFile("a.dll", "installed"));
    const QString errorFile = installation.workDir() + "/Orvane.err";
    QVERIFY(writeFile(errorFile, QByteArray(500, 'o'))); // from an earlier run

    const Installation::Result result =
        installation.run({"-r", "a.dll", "sub/b.dll"}, withPathFirst(installation.path() + "/bin"));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);

    const QJsonObject record = waitForRecord(installation.workDir(), "xdg-open");
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList{errorFile});
    const QString expected = "Файл " + installation.workDir() + "/a.dll_ не существует.\r\nФайл " +
                             installation.workDir() + "/sub/b.dll_ не существует.";
    QCOMPARE(readFile(errorFile), expected.toLocal8Bit());
    QCOMPARE(readFile(installation.path() + "/a.dll"), QByteArray("installed"));
}

void TestUpdateMode::withoutEditorTheLogNamesTheFile()
{
    Installation installation;
    QVERIFY(installation.isValid());
    QProcessEnvironment environment = Installation::testEnvironment();
    environment.insert("PATH", installation.path() + "/no-such-directory");

    const Installation::Result result = installation.run({"-r", "a.dll"}, environment);
    QCOMPARE(result.exitCode, 0);
    const QString expected =
        "\"Error. Can't open err file in editor " + installation.workDir() + "/Orvane.err\"";
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
    QVERIFY(QFile::exists(installation.workDir() + "/Orvane.err"));
}

void TestUpdateMode::errorFileFailures_data()
{
    QTest::addColumn<bool>("fullDisk");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("diagnostic");

    QTest::newRow("cannot open: a directory in its place")
        << false << 3 << "\"Error. Can't open err file ";
    QTest::newRow("cannot write: the disk is full")
        << true << 5 << "\"Error. Can't write to err file No space left on device\"\n";
}

void TestUpdateMode::errorFileFailures()
{
    QFETCH(bool, fullDisk);
    QFETCH(int, exitCode);
    QFETCH(QString, diagnostic);

    Installation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    const QString errorFile = installation.workDir() + "/Orvane.err";
    if (fullDisk) {
        QVERIFY(QDir().mkpath(installation.workDir()));
        QVERIFY(QFile::link("/dev/full", errorFile));
    } else {
        QVERIFY(QDir().mkpath(errorFile + "/inside"));
    }

    const Installation::Result result =
        installation.run({"-r", "a.dll"}, withPathFirst(installation.path() + "/bin"));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(diagnostic.toUtf8()), result.output.constData());
}

// Run as an unprivileged user: the file is writable, but its directory is
// not, so it can be neither removed nor replaced now. The hidden shell copies
// it over after the program has ended and starts the program again.
void TestUpdateMode::fileInUseIsCopiedLater()
{
    SKIP_UNLESS_CAN_DROP_PRIVILEGES();

    Installation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("data/table.bin", "old table"));
    QVERIFY(QFile::setPermissions(installation.path() + "/data/table.bin",
                                  QFileDevice::Permissions(0x6666)));
    QVERIFY(QFile::setPermissions(installation.path() + "/data", QFileDevice::Permissions(0x5555)));
    QVERIFY(writeFile(installation.workDir() + "/data/table.bin_", "new table"));
    QVERIFY(::chown(QFile::encodeName(installation.workDir()).constData(), unprivilegedId,
                    unprivilegedId) == 0);

    const Installation::Result result =
        installation.run({"-r", "data/table.bin", "missing.dll"}, Installation::testEnvironment(),
                         QString(), unprivilegedWrapper());
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    // No error file now, but the log keeps what went wrong.
    const QString missing = "Файл " + installation.workDir() + "/missing.dll_ не существует.";
    QVERIFY2(result.output.contains(missing.toUtf8()), result.output.constData());
    QVERIFY(!result.output.contains("Success!"));

    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList());
    QCOMPARE(readFile(installation.path() + "/data/table.bin"), QByteArray("new table"));
    QVERIFY(!QFile::exists(installation.workDir() + "/Orvane.err"));
}

QTEST_GUILESS_MAIN(TestUpdateMode)
#include "tst_updatemode.moc"
