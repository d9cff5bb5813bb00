// End-to-end runs of the built Orvane in self-update mode, in a temporary
// installation directory with the stand-in installer beside it.

#include "platform/environment.h"
#include "testsupport.h"

#include <QtTest>

#include <QDirIterator>
#include <QRandomGenerator>

#include <unistd.h>

class TestUpdateMode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void updateRestartsTheProgram_data();
    void updateRestartsTheProgram();
    void missingSourcesOpenTheEditor();
    void withoutEditorTheLogNamesTheFile();
    void errorFileFailures_data();
    void errorFileFailures();
    void fileInUseIsCopiedLater_data();
    void fileInUseIsCopiedLater();
    void refusedRestartIsReported();
    void restartKeepsStartDirectory_data();
    void restartKeepsStartDirectory();
    void fullDiskKeepsOldFile_data();
    void fullDiskKeepsOldFile();
};

// The program as "./Orvane" from the installation directory: a relative path
// that no longer names it once the working directory has been entered.
static const QStringList relativeStart{"/bin/sh", "-c", "shift; exec ./Orvane \"$@\"", "sh"};

// Environment whose PATH starts with dir.
static QProcessEnvironment withPathFirst(const QString &dir)
{
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.insert("PATH", dir + ':' + environment.value("PATH"));
    return environment;
}

void TestUpdateMode::initTestCase()
{
    // Names that are no text reach the programs byte for byte.
    Platform::keepNameBytes();
}

void TestUpdateMode::updateRestartsTheProgram_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QByteArray>("qtConf"); // the installer's, beside the program

    QTest::newRow("no names, qt.conf Plugins=plugins")
        << QStringList() << QByteArray("[Paths]\nPlugins=plugins\n");
    QTest::newRow("the program itself and a library in a new directory, qt.conf Prefix=.")
        << QStringList{"Orvane", "plugins/sql/x.so"} << QByteArray("[Paths]\nPrefix=.\n");
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // "caf\xE9.so", whose byte is no text: Orvane keeps it as this process does.
    QTest::newRow("a name that is no text")
        << QStringList{"caf" + QString(QChar(0xDCE9)) + ".so"} << QByteArray("[Paths]\nPrefix=.\n");
#endif
}

void TestUpdateMode::updateRestartsTheProgram()
{
    QFETCH(QStringList, names);
    QFETCH(QByteArray, qtConf);
    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addInstallersQt(qtConf));
    // A new version of the program: the built one with a few bytes appended,
    // which keeps it runnable.
    const QByteArray newProgram = readFile(installation.programPath()) + "new version";
    QVERIFY(writeFile(installation.workDir() + "/Orvane_", newProgram));
    for (const QString &name : names) {
        if (name != "Orvane")
            QVERIFY(writeFile(installation.workDir() + '/' + name + '_', "new library"));
    }

    const TempInstallation::Result result = installation.run(
        QStringList{"-r"} + names, TempInstallation::testEnvironment(), QString(), relativeStart);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.contains("Success!\n"), result.output.constData());

    // The restarted program runs in normal mode: the installer gets no arguments.
    const QJsonObject record = waitForRecord(installation.workDir());
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList());
    for (const QString &name : names) {
        QCOMPARE(readFile(installation.path() + '/' + name),
                 name == "Orvane" ? newProgram : QByteArray("new library"));
    }
    QVERIFY(!QFile::exists(installation.workDir() + "/Orvane.err"));
}

void TestUpdateMode::missingSourcesOpenTheEditor()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    QVERIFY(installation.writeFile("a.dll", "installed"));
    const QString errorFile = installation.workDir() + "/Orvane.err";
    QVERIFY(writeFile(errorFile, QByteArray(500, 'o'))); // from an earlier run
    // A download in the working directory, which PATH names by "." and by
    // an empty entry: never started.
    const QString planted = installation.workDir() + "/xdg-open";
    QVERIFY(writeFile(planted, "#!/bin/sh\ntouch planted-ran\n"));
    QVERIFY(QFile::setPermissions(planted, QFileDevice::Permissions(0x7755)));

    const TempInstallation::Result result = installation.run(
        {"-r", "a.dll", "sub/b.dll"}, withPathFirst(".::" + installation.path() + "/bin"));
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);

    const QJsonObject record = waitForRecord(installation.workDir(), "xdg-open");
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList{errorFile});
    const QString expected = "Файл " + installation.workDir() + "/a.dll_ не существует.\r\nФайл " +
                             installation.workDir() + "/sub/b.dll_ не существует.";
    QCOMPARE(readFile(errorFile), expected.toLocal8Bit());
    QCOMPARE(readFile(installation.path() + "/a.dll"), QByteArray("installed"));
    QVERIFY(!QFileInfo::exists(installation.workDir() + "/planted-ran"));
}

void TestUpdateMode::withoutEditorTheLogNamesTheFile()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.insert("PATH", installation.path() + "/no-such-directory");

    const TempInstallation::Result result = installation.run({"-r", "a.dll"}, environment);
    QCOMPARE(result.exitCode, 0);
    const QString expected =
        "\"Error. Can't open err file in editor " + installation.workDir() + "/Orvane.err\"";
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
    QVERIFY(QFile::exists(installation.workDir() + "/Orvane.err"));
}

void TestUpdateMode::errorFileFailures_data()
{
    // No file may grow beyond 512 bytes (ulimit -f 1), which the log stays
    // within and the report of many missing files does not.
    QTest::addColumn<bool>("sizeLimit");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("diagnostic");

    QTest::newRow("cannot open: a directory in its place")
        << false << 3 << "\"Error. Can't open err file ";
    // The write fails, and says so, instead of ending the program.
    QTest::newRow("cannot write: the file-size limit")
        << true << 5 << "\"Error. Can't write to err file File too large\"\n";
}

void TestUpdateMode::errorFileFailures()
{
    QFETCH(bool, sizeLimit);
    QFETCH(int, exitCode);
    QFETCH(QString, diagnostic);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    const QString errorFile = installation.workDir() + "/Orvane.err";
    QStringList wrapper;
    if (sizeLimit) {
        QVERIFY(QDir().mkpath(installation.workDir()));
        wrapper = QStringList{"/bin/sh", "-c", "ulimit -f 1; exec \"$0\" \"$@\""};
    } else {
        QVERIFY(QDir().mkpath(errorFile + "/inside"));
    }

    QStringList names{"-r"};
    for (int i = 0; i < 20; ++i)
        names << QString("missing%1.dll").arg(i);
    const TempInstallation::Result result =
        installation.run(names, withPathFirst(installation.path() + "/bin"), QString(), wrapper);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(diagnostic.toUtf8()), result.output.constData());
}

// Run as an unprivileged user: the file is writable, but its directory is
// not, so it can be neither removed nor replaced now. The hidden shell copies
// it over after the program has ended, reports the other failure in the
// editor and starts the program again. A link there is another matter: its
// file may lie anywhere, and nothing is written through it; it is reported.
void TestUpdateMode::fileInUseIsCopiedLater_data()
{
    QTest::addColumn<bool>("link"); // the installed name is a link to the user's file elsewhere

    QTest::newRow("a writable file in a read-only directory") << false;
    QTest::newRow("a link in a read-only directory") << true;
}

void TestUpdateMode::fileInUseIsCopiedLater()
{
    QFETCH(bool, link);
    SKIP_UNLESS_CAN_DROP_PRIVILEGES();

    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    const QString target = installation.path() + "/data/table.bin";
    const QString usersFile = installation.path() + "/home/table.bin";
    QVERIFY(writeFile(link ? usersFile : target, "old table"));
    QVERIFY(QFile::setPermissions(link ? usersFile : target, QFileDevice::Permissions(0x6666)));
    if (link)
        QVERIFY(QDir().mkpath(installation.path() + "/data") && QFile::link(usersFile, target));
    QVERIFY(QFile::setPermissions(installation.path() + "/data", QFileDevice::Permissions(0x5555)));
    QVERIFY(writeFile(installation.workDir() + "/data/table.bin_", "new table"));
    QVERIFY(::chown(QFile::encodeName(installation.workDir()).constData(), unprivilegedId,
                    unprivilegedId) == 0);

    const TempInstallation::Result result = installation.run(
        {"-r", "data/table.bin", "missing.dll"}, withPathFirst(installation.path() + "/bin"),
        QString(), unprivilegedWrapper());
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    // The log keeps what went wrong at once.
    const QString missing = "Файл " + installation.workDir() + "/missing.dll_ не существует.";
    QVERIFY2(result.output.contains(missing.toUtf8()), result.output.constData());
    QVERIFY(!result.output.contains("Success!"));

    const QString errorFile = installation.workDir() + "/Orvane.err";
    QCOMPARE(recordedArguments(waitForRecord(installation.workDir(), "xdg-open", 30000)),
             QStringList{errorFile});
    if (link) {
        QCOMPARE(readFile(usersFile), QByteArray("old table"));
        QVERIFY(QFileInfo(target).isSymLink());
        const QString report = QString::fromLocal8Bit(readFile(errorFile));
        const QString notCopied =
            "Файл " + installation.workDir() + "/data/table.bin_ не может быть скопирован. ";
        QVERIFY2(report.startsWith(missing + "\r\n" + notCopied) &&
                     report.endsWith("Permission denied"),
                 qPrintable(report));
        QVERIFY(!QFileInfo::exists(installation.workDir() + "/Hultrex-received.json"));
        return;
    }
    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList());
    QCOMPARE(readFile(target), QByteArray("new table"));
    QCOMPARE(readFile(errorFile), missing.toLocal8Bit());
}

// Changes owner and group of every path to the unprivileged user.
static bool giveToUnprivileged(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (::chown(QFile::encodeName(path).constData(), unprivilegedId, unprivilegedId) != 0)
            return false;
    }
    return true;
}

// A "workpath" relative to the directory Orvane is started in: the restarted
// program, directly or after the deferred copy, must find the same working
// directory, not one nested in it, and must not extend PATH a second time.
// A restart the system refuses after a good pass is a failure of the
// update: it goes to the error file, which the editor opens, and nothing
// claims success. strace refuses every exec of the program's own path; the
// program itself is started through a link, whose path is another.
void TestUpdateMode::refusedRestartIsReported()
{
    if (QStandardPaths::findExecutable("strace").isEmpty())
        QSKIP("strace is not installed");
    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    QVERIFY(QFile::link(installation.programPath(), installation.programPath() + ".link"));
    const QStringList wrapper{"strace",
                              "-f",
                              "-qq",
                              "-o",
                              "/dev/null",
                              "-P",
                              installation.programPath(),
                              "-e",
                              "trace=execve",
                              "-e",
                              "inject=execve:error=EACCES",
                              "/bin/sh",
                              "-c",
                              "exec \"$0.link\" \"$@\""};

    // LeakSanitizer cannot work under ptrace: the traced program is checked
    // for everything but leaks.
    QProcessEnvironment environment = withPathFirst(installation.path() + "/bin");
    const QString options = environment.value("ASAN_OPTIONS");
    if (!options.isEmpty())
        environment.insert("ASAN_OPTIONS", options + ":detect_leaks=0");

    const TempInstallation::Result result =
        installation.run({"-r"}, environment, QString(), wrapper);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    const QString errorFile = installation.workDir() + "/Orvane.err";
    const QJsonObject record = waitForRecord(installation.workDir(), "xdg-open");
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList{errorFile});
    QCOMPARE(readFile(errorFile), ("Программа " + installation.programPath() +
                                   " не может быть запущена. Permission denied")
                                      .toLocal8Bit());
    const QString logged =
        "Error. Can't restart " + installation.programPath() + ": Permission denied";
    QVERIFY2(result.output.contains(logged.toUtf8()), result.output.constData());
    QVERIFY(!result.output.contains("Success!"));
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-received.json"));
}

void TestUpdateMode::restartKeepsStartDirectory_data()
{
    QTest::addColumn<bool>("deferred");

    QTest::newRow("direct restart") << false;
    QTest::newRow("restart after the deferred copy") << true;
}

void TestUpdateMode::restartKeepsStartDirectory()
{
    QFETCH(bool, deferred);
    if (deferred)
        SKIP_UNLESS_CAN_DROP_PRIVILEGES();

    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("workpath", "upd"));
    const QString start = installation.path() + "/start";
    const QString workDir = start + "/upd/workdir";
    QVERIFY(QDir().mkpath(workDir));
    QStringList wrapper;
    QStringList names;
    if (deferred) {
        // As in fileInUseIsCopiedLater: replaceable only after the program ended.
        QVERIFY(installation.writeFile("data/table.bin", "old table"));
        QVERIFY(QFile::setPermissions(installation.path() + "/data/table.bin",
                                      QFileDevice::Permissions(0x6666)));
        QVERIFY(
            QFile::setPermissions(installation.path() + "/data", QFileDevice::Permissions(0x5555)));
        QVERIFY(writeFile(workDir + "/data/table.bin_", "new table"));
        QVERIFY(giveToUnprivileged({start, start + "/upd", workDir, workDir + "/data"}));
        wrapper = unprivilegedWrapper();
        names << "data/table.bin";
    }
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.insert("PATH", "/usr/bin:/bin");

    const TempInstallation::Result result =
        installation.run(QStringList{"-r"} + names, environment, start, wrapper);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);

    const QJsonObject record = waitForRecord(workDir, "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(QFileInfo(record.value("cwd").toString()).canonicalFilePath(),
             QFileInfo(workDir).canonicalFilePath());
    QCOMPARE(record.value("PATH").toString(),
             "/usr/bin:/bin:" + installation.path() + "/clientslibs");
    QVERIFY(!QFileInfo::exists(workDir + "/upd"));
    if (deferred)
        QCOMPARE(readFile(installation.path() + "/data/table.bin"), QByteArray("new table"));
}

// A full disk under the target, or a file-size limit below the new version:
// neither the pass nor the deferred copy may leave a half-written file or a
// temporary one, the write fails with its reason instead of ending the
// program, and a failed deferred copy does not restart the program.
void TestUpdateMode::fullDiskKeepsOldFile_data()
{
    QTest::addColumn<bool>("sizeLimit"); // else a full disk
    QTest::addColumn<QString>("reason");

    QTest::newRow("full disk") << false << "No space left on device";
    QTest::newRow("file-size limit") << true << "File too large";
}

void TestUpdateMode::fullDiskKeepsOldFile()
{
    QFETCH(bool, sizeLimit);
    QFETCH(QString, reason);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QString small = installation.path() + "/small";
    QVERIFY(QDir().mkpath(small));
    QStringList wrapper;
    if (sizeLimit) {
        // 50 KiB (100 blocks of 512 bytes) for every file, the logs included.
        wrapper = QStringList{"/bin/sh", "-c", "ulimit -f 100; exec \"$0\" \"$@\""};
    } else {
        if (geteuid() != 0)
            QSKIP("mounting a small tmpfs needs root");
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", small}) != 0)
            QSKIP("a tmpfs cannot be mounted here");
    }
    struct Unmount
    {
        QString path;
        ~Unmount()
        {
            if (!path.isEmpty())
                QProcess::execute("umount", {path});
        }
    } unmount{sizeLimit ? QString() : small};

    QByteArray old(20000, Qt::Uninitialized);
    for (char &byte : old)
        byte = char(QRandomGenerator::global()->bounded(256));
    QVERIFY(writeFile(small + "/lib.so", old));
    QVERIFY(writeFile(installation.workDir() + "/small/lib.so_", QByteArray(1024 * 1024, 'n')));

    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    const TempInstallation::Result result = installation.run(
        {"-r", "small/lib.so"}, withPathFirst(installation.path() + "/bin"), QString(), wrapper);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    // After the pass, with the system's reason in the log ...
    QCOMPARE(readFile(small + "/lib.so"), old);
    const QString expected =
        "Файл " + installation.workDir() + "/small/lib.so_ не может быть скопирован. " + reason;
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());

    // ... and after the deferred copy, which names the installation.
    QVERIFY2(waitWhileProcessMentions(installation.path(), 30000), "the deferred copy did not end");
    QCOMPARE(readFile(small + "/lib.so"), old);
    QCOMPARE(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"lib.so"});
    QVERIFY2(!QFileInfo::exists(installation.workDir() + "/Hultrex-received.json"),
             "the program was restarted");
    // The failure is reported, with the system's reason, and opened.
    QVERIFY(!waitForRecord(installation.workDir(), "xdg-open").isEmpty());
    const QString report = QString::fromLocal8Bit(readFile(installation.workDir() + "/Orvane.err"));
    QVERIFY2(report.startsWith("Файл " + installation.workDir() +
                               "/small/lib.so_ не может быть скопирован. ") &&
                 report.endsWith(reason),
             qPrintable(report));
}

QTEST_GUILESS_MAIN(TestUpdateMode)
#include "tst_updatemode.moc"
