// End-to-end runs of the built Orvane in a temporary installation directory
// with the stand-in installer beside it.

#include "platform/environment.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestLauncher : public QObject
{
    Q_OBJECT

private slots:
    void argumentsReachInstaller_data();
    void argumentsReachInstaller();
    void argumentBytesReachInstaller_data();
    void argumentBytesReachInstaller();
    void qtOptionsAreNotPassedOn();
    void workingDirectory_data();
    void workingDirectory();
    void pathExtended_data();
    void pathExtended();
    void installerOutlivesLauncher();
    void startsWithoutDisplay_data();
    void startsWithoutDisplay();
    void installerCannotStart_data();
    void installerCannotStart();
    void cannotCreateWorkDir();
    void cannotEnterWorkDir();
};

void TestLauncher::argumentsReachInstaller_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("none") << QStringList();
    QTest::newRow("blank inside, then plain") << QStringList{"a b", "c"};
    QTest::newRow("double quote") << QStringList{"say \"hi\"", "\""};
    QTest::newRow("backslashes") << QStringList{"C:\\dir\\", "\\\\server\\share"};
    QTest::newRow("empty argument") << QStringList{"", "x", ""};
    QTest::newRow("not the update option") << QStringList{"-R", "-r2", "x -r"};
    QTest::newRow("shell syntax") << QStringList{"$(touch pwned)", "a;b", "`id`", "*"};
}

void TestLauncher::argumentsReachInstaller()
{
    QFETCH(QStringList, arguments);
    TempInstallation installation;
    QVERIFY(installation.isValid());

    const TempInstallation::Result result = installation.run(arguments);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject record = waitForRecord(installation.workDir());
    QVERIFY2(!record.isEmpty(), result.output.constData());
    QCOMPARE(recordedArguments(record), arguments);
    QVERIFY(!QFile::exists(installation.workDir() + "/pwned"));
}

void TestLauncher::argumentBytesReachInstaller_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("libpath"); // null: none
    QTest::addColumn<QByteArray>("qtConf");  // the installer's, beside the program

    QTest::newRow("Orvane, qt.conf Plugins=plugins")
        << ORVANE_BINARY << QByteArray() << QByteArray("[Paths]\nPlugins=plugins\n");
    QTest::newRow("OrvanePaths, not to be asked again, qt.conf Prefix=.")
        << ORVANEPATHS_BINARY << QByteArray("show = 0\n") << QByteArray("[Paths]\nPrefix=.\n");
}

// Arguments that are no text in the locale's encoding reach the installer
// byte for byte, beside ones that are, and so do the environment's values
// (the library path OrvanePaths extends among them) and, with Qt 5, the name
// of the installation's directory.
void TestLauncher::argumentBytesReachInstaller()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, libpath);
    QFETCH(QByteArray, qtConf);
    TempInstallation installation(program);
    QVERIFY(installation.isValid());
    QVERIFY(installation.addInstallersQt(qtConf));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The same installation in a directory named "caf\xE9": this process
    // keeps that byte in its texts as Orvane does.
    Platform::keepNameBytes();
    const QString appDir = installation.path() + "/caf" + QChar(0xDCE9);
    for (const QString &file :
         {QFileInfo(program).fileName(), QString("Hultrex"), QString("qt.conf"),
          QString("platforms/qwindows.dll"), QString("plugins/platforms/libqxcb.so")}) {
        QVERIFY(QDir().mkpath(QFileInfo(appDir + '/' + file).path()));
        QVERIFY(QFile::copy(installation.path() + '/' + file, appDir + '/' + file));
    }
    const QString start = R"sh("$(dirname "$0")/$(printf 'caf\351')/$(basename "$0")")sh";
#else
    // Qt 6 decodes every name as UTF-8: such a directory is out of its reach.
    const QString appDir = installation.path();
    const QString start = "\"$0\"";
#endif
    if (!libpath.isNull())
        QVERIFY(writeFile(appDir + "/workdir/libpath", libpath));
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");

    // QProcess would pass the arguments as text: the shell makes the bytes.
    const QStringList wrapper{
        "/bin/sh", "-c",
        R"sh(STANDIN_PROBE=$(printf 'x\351y') LD_LIBRARY_PATH=$(printf '/opt/caf\351') exec )sh" +
            start + R"sh( "$(printf 'caf\351')" "$(printf '\377\376x')" "$@")sh"};
    const TempInstallation::Result result =
        installation.run({"обновление", "a b"}, environment, QString(), wrapper);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject record = waitForRecord(appDir + "/workdir");
    QVERIFY2(!record.isEmpty(), result.output.constData());
    QCOMPARE(recordedArgumentBytes(record),
             QByteArrayList({"caf\xe9", "\xff\xfex", "обновление", "a b"}));
    QCOMPARE(QByteArray::fromHex(record.value("STANDIN_PROBE_BYTES").toString().toLatin1()),
             QByteArray("x\xe9y"));
    const QByteArray libraryPath =
        QByteArray::fromHex(record.value("LD_LIBRARY_PATH_BYTES").toString().toLatin1());
    if (program == ORVANE_BINARY)
        QCOMPARE(libraryPath, QByteArray("/opt/caf\xe9"));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    else
        QCOMPARE(libraryPath, QByteArray("/opt/caf\xe9:/usr/local/lib"));
#endif
}

void TestLauncher::qtOptionsAreNotPassedOn()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    const TempInstallation::Result result =
        installation.run({"-platform", "offscreen", "a", "-reverse", "b"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(recordedArguments(waitForRecord(installation.workDir())), QStringList({"a", "b"}));
}

void TestLauncher::workingDirectory_data()
{
    // null: no "workpath" file; "<fifo>": a FIFO in its place, not waited for
    QTest::addColumn<QByteArray>("workpath");
    QTest::addColumn<QString>("startDir"); // relative to the installation
    QTest::addColumn<QString>("expected"); // relative to the installation

    QTest::newRow("no workpath file") << QByteArray() << QString() << "workdir";
    QTest::newRow("dot") << QByteArray(".\r\n") << QString() << "workdir";
    QTest::newRow("dot backslash upd") << QByteArray(".\\upd\\") << QString() << "upd/workdir";
    QTest::newRow("relative to the start directory") << QByteArray("upd") << "elsewhere"
                                                     << "elsewhere/upd/workdir";
    QTest::newRow("existing directory is entered")
        << QByteArray("./exists") << QString() << "exists/workdir";
    QTest::newRow("a FIFO: like no file") << QByteArray("<fifo>") << QString() << "workdir";
    QTest::newRow("longer than any path: like no file")
        << QByteArray(64 * 1024 + 1, 'a') << QString() << "workdir";
}

void TestLauncher::workingDirectory()
{
    QFETCH(QByteArray, workpath);
    QFETCH(QString, startDir);
    QFETCH(QString, expected);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QString workpathFile = installation.path() + "/workpath";
    if (workpath == "<fifo>")
        QVERIFY(::mkfifo(QFile::encodeName(workpathFile).constData(), 0644) == 0);
    else if (!workpath.isNull())
        QVERIFY(installation.writeFile("workpath", workpath));
    QVERIFY(QDir(installation.path()).mkpath("exists/workdir"));
    const QString start = installation.path() + '/' + startDir;
    QVERIFY(QDir().mkpath(start));

    const TempInstallation::Result result =
        installation.run({}, TempInstallation::testEnvironment(), start);
    QCOMPARE(result.exitCode, 0);
    const QString workDir = installation.path() + '/' + expected;
    const QJsonObject record = waitForRecord(workDir);
    QVERIFY2(!record.isEmpty(), result.output.constData());
    QCOMPARE(QFileInfo(record.value("cwd").toString()).canonicalFilePath(),
             QFileInfo(workDir).canonicalFilePath());
}

void TestLauncher::pathExtended_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expectedPrefix"); // the installation's entry follows

    QTest::newRow("set") << true << "/usr/bin:/bin"
                         << "/usr/bin:/bin:";
    QTest::newRow("empty") << true << ""
                           << "";
    QTest::newRow("unset") << false << ""
                           << "";
}

void TestLauncher::pathExtended()
{
    QFETCH(bool, set);
    QFETCH(QString, path);
    QFETCH(QString, expectedPrefix);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.remove("PATH");
    if (set)
        environment.insert("PATH", path);

    QCOMPARE(installation.run({}, environment).exitCode, 0);
    const QJsonObject record = waitForRecord(installation.workDir());
    QCOMPARE(record.value("PATH").toString(),
             expectedPrefix + installation.path() + "/clientslibs");
}

void TestLauncher::installerOutlivesLauncher()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.insert("STANDIN_LINGER_MS", "1500");

    const TempInstallation::Result result = installation.run({"x"}, environment);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    // Orvane has ended while the installer still runs ...
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-finished"));
    // ... and the installer goes on, writing to the output it inherited.
    QVERIFY(waitForFile(installation.workDir() + "/Hultrex-finished"));
    QVERIFY(installation.outputSoFar().contains("still running 2\n"));
}

void TestLauncher::startsWithoutDisplay_data()
{
    // null: the variable is unset.
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("waylandDisplay");
    QTest::addColumn<QString>("platform");

    QTest::newRow("no display") << QString() << QString() << QString();
    QTest::newRow("X display naming no server") << deadDisplay() << QString() << QString();
    QTest::newRow("both naming no server") << deadDisplay() << "orvane-none" << QString();
    QTest::newRow("user's own platform") << deadDisplay() << QString() << "offscreen";
}

void TestLauncher::startsWithoutDisplay()
{
    QFETCH(QString, display);
    QFETCH(QString, waylandDisplay);
    QFETCH(QString, platform);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    QProcessEnvironment environment =
        withoutDisplayVariables(QProcessEnvironment::systemEnvironment());
    if (!display.isNull())
        environment.insert("DISPLAY", display);
    if (!waylandDisplay.isNull())
        environment.insert("WAYLAND_DISPLAY", waylandDisplay);
    if (!platform.isNull())
        environment.insert("QT_QPA_PLATFORM", platform);

    const TempInstallation::Result result = installation.run({"a b"}, environment);
    QVERIFY(result.finished);
    QVERIFY2(result.exitCode == 0, result.output.constData());
    const QJsonObject record = waitForRecord(installation.workDir());
    QCOMPARE(recordedArguments(record), QStringList{"a b"});
    // The program's own choice of platform does not reach the installer;
    // the user's does.
    QCOMPARE(record.value("QT_QPA_PLATFORM").toString(QStringLiteral("unset")),
             platform.isNull() ? QString("unset") : platform);
}

void TestLauncher::installerCannotStart_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("obstacle"); // "missing", "not executable", "environment too large"
    QTest::addColumn<QString>("reason");

    for (const QString &program : {QString(ORVANE_BINARY), QString(ORVANEPATHS_BINARY)}) {
        const QString name = QFileInfo(program).fileName() + ", ";
        QTest::newRow(qPrintable(name + "missing")) << program << "missing"
                                                    << "No such file or directory";
        QTest::newRow(qPrintable(name + "not executable")) << program << "not executable"
                                                           << "Permission denied";
        QTest::newRow(qPrintable(name + "PATH grown past what a program may get"))
            << program << "environment too large"
            << "Argument list too long";
    }
}

// An installer that cannot be started is said, with the system's reason and
// an exit code of its own; OrvanePaths, whose user asked not to be asked
// again, shows no window then either.
void TestLauncher::installerCannotStart()
{
    QFETCH(QString, program);
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);

    TempInstallation installation(program);
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("workdir/libpath", "show = 0\n"));
    const QString installer = installation.path() + "/Hultrex";
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    if (obstacle == "missing")
        QVERIFY(QFile::remove(installer));
    else if (obstacle == "not executable")
        QVERIFY(QFile::setPermissions(installer, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    else
        // The longest variable a program may be given, less a few bytes: the
        // program starts, but not once its entry is added.
        environment.insert("PATH", "/usr/bin:/" + QString(128 * 1024 - 32, 'p'));

    const TempInstallation::Result result = installation.run({"a"}, environment);
    QVERIFY(result.finished);
    QVERIFY2(result.exitCode == 7, result.output.constData());
    const QString expected = "Error. Can't start installer " + installer + ": " + reason;
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-received.json"));
}

void TestLauncher::cannotCreateWorkDir()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    // A regular file stands where a directory would have to be created.
    QVERIFY(installation.writeFile("blocker", "a file"));
    QVERIFY(installation.writeFile("workpath", "./blocker"));

    const TempInstallation::Result result = installation.run({"a"});
    QCOMPARE(result.exitCode, 2);
    const QString expected =
        "Error. Can't create work directory " + installation.path() + "/blocker/workdir";
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
    QVERIFY(!QFile::exists(installation.workDir()));
}

void TestLauncher::cannotEnterWorkDir()
{
    SKIP_UNLESS_CAN_DROP_PRIVILEGES();

    TempInstallation installation;
    QVERIFY(installation.isValid());
    // The directory exists, so creating it succeeds, but an unprivileged
    // user may not enter it.
    QVERIFY(QDir().mkpath(installation.workDir()));
    QVERIFY(QFile::setPermissions(installation.workDir(), QFileDevice::ReadOwner));

    const TempInstallation::Result result = installation.run(
        {"a"}, TempInstallation::testEnvironment(), QString(), unprivilegedWrapper());
    QCOMPARE(result.exitCode, 1);
    const QString expected =
        "Error. Directory can not be set like current " + installation.workDir();
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
