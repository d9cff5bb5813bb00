// End-to-end runs of the built OrvanePaths in a temporary installation
// directory with the stand-in installer beside it.

#include "testsupport.h"

#include <QtTest>

class TestOrvanePaths : public QObject
{
    Q_OBJECT

private slots:
    void dontAskStartsInstallerAtOnce_data();
    void dontAskStartsInstallerAtOnce();
    void showsWindowWithoutLibpath();
    void startupFailure();
    void withoutDisplay_data();
    void withoutDisplay();
};

void TestOrvanePaths::dontAskStartsInstallerAtOnce_data()
{
    QTest::addColumn<QString>("inherited"); // null: LD_LIBRARY_PATH unset
    QTest::addColumn<QString>("expected");

    QTest::newRow("unset") << QString() << "/opt/a:/opt/клиент";
    QTest::newRow("set") << "/usr/lib"
                         << "/usr/lib:/opt/a:/opt/клиент";
}

void TestOrvanePaths::dontAskStartsInstallerAtOnce()
{
    QFETCH(QString, inherited);
    QFETCH(QString, expected);

    Installation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    const QByteArray stored = "\npath = /opt/a\npath = \npath = /opt/клиент\nshow = 0\n";
    QVERIFY(installation.writeFile("workdir/libpath", stored));
    QProcessEnvironment environment = Installation::testEnvironment();
    environment.remove("LD_LIBRARY_PATH");
    if (!inherited.isNull())
        environment.insert("LD_LIBRARY_PATH", inherited);

    const Installation::Result result = installation.run({"a b", "c"}, environment);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject record = waitForRecord(installation.workDir());
    QVERIFY2(!record.isEmpty(), result.output.constData());
    QCOMPARE(record.value("LD_LIBRARY_PATH").toString(), expected);
    QCOMPARE(recordedArguments(record), QStringList({"a b", "c"}));
    QCOMPARE(QFileInfo(record.value("cwd").toString()).canonicalFilePath(),
             QFileInfo(installation.workDir()).canonicalFilePath());
    QVERIFY(record.value("PATH").toString().endsWith(installation.path() + "/clientslibs"));
    // Nothing was saved.
    QFile file(installation.workDir() + "/libpath");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), stored);
}

// Runs a program on the virtual display and returns its standard output.
static QByteArray runOnDisplay(const QString &display, const QString &program,
                               const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    return process.readAllStandardOutput();
}

// The ids of the visible windows with the library-path window's title.
static QByteArray findWindow(const QString &display)
{
    return runOnDisplay(display, "xdotool",
                        {"search", "--onlyvisible", "--name", "Установщик обновлений"})
        .trimmed();
}

void TestOrvanePaths::showsWindowWithoutLibpath()
{
    // The window is looked for and clicked on a virtual X display of its own.
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs Xvfb and xdotool");
    QProcess server;
    server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(10000))
        number += server.readAllStandardOutput();
    QVERIFY2(!number.trimmed().isEmpty(), server.readAllStandardError().constData());
    const auto stopServer = qScopeGuard([&server] {
        server.terminate();
        server.waitForFinished();
    });
    const QString display = ':' + QString::fromLatin1(number.trimmed());

    Installation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    QProcess paths;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("LD_LIBRARY_PATH");
    paths.setProcessEnvironment(environment);
    paths.setWorkingDirectory(installation.path());
    paths.setProcessChannelMode(QProcess::MergedChannels);
    paths.start(installation.programPath(), {"x"});
    QVERIFY(paths.waitForStarted());
    const auto stopProgram = qScopeGuard([&paths] {
        if (paths.state() != QProcess::NotRunning) {
            paths.kill();
            paths.waitForFinished();
        }
    });

    // The window appears under its title, and it waits for the user.
    QByteArray window;
    QElapsedTimer timer;
    timer.start();
    while ((window = findWindow(display)).isEmpty() && paths.state() == QProcess::Running &&
           timer.elapsed() < 10000)
        QTest::qWait(50);
    QVERIFY2(!window.isEmpty(), paths.readAll().constData());
    QCOMPARE(paths.state(), QProcess::Running);
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-received.json"));
    QVERIFY(!QFile::exists(installation.workDir() + "/libpath"));

    // A click on the start button (relative to the window) saves, starts
    // the installer and ends the program.
    const QString windowId = QString::fromLatin1(window.split('\n').first());
    for (int attempt = 0; attempt < 5 && paths.state() != QProcess::NotRunning; ++attempt) {
        runOnDisplay(display, "xdotool",
                     {"mousemove", "--window", windowId, "324", "381", "click", "1"});
        paths.waitForFinished(3000);
    }
    QCOMPARE(paths.state(), QProcess::NotRunning);
    const QByteArray output = paths.readAll();
    QCOMPARE(paths.exitStatus(), QProcess::NormalExit);
    QVERIFY2(paths.exitCode() == 0, output.constData());
    const QJsonObject record = waitForRecord(installation.workDir());
    QVERIFY2(!record.isEmpty(), output.constData());
    QCOMPARE(record.value("LD_LIBRARY_PATH").toString(), QString("/usr/local/lib"));
    QCOMPARE(recordedArguments(record), QStringList{"x"});
    QFile file(installation.workDir() + "/libpath");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\npath = /usr/local/lib\nshow = 1\n"));
}

void TestOrvanePaths::startupFailure()
{
    // The same start-up as Orvane: a file where the working directory
    // belongs ends the program with exit code 2 before any window.
    Installation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("blocker", "a file"));
    QVERIFY(installation.writeFile("workpath", "./blocker"));

    const Installation::Result result = installation.run({"a"});
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 2);
    const QString expected =
        "Error. Can't create work directory " + installation.path() + "/blocker/workdir";
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
}

void TestOrvanePaths::withoutDisplay_data()
{
    QTest::addColumn<QString>("display");   // null: DISPLAY unset
    QTest::addColumn<QByteArray>("stored"); // null: no "libpath"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("installerStarted");

    for (const QString &display : {QString(), deadDisplay()}) {
        const QByteArray name = display.isNull() ? "no display" : "display naming no server";
        QTest::newRow(name + ", window to show") << display << QByteArray() << 6 << false;
        QTest::newRow(name + ", not to be asked again")
            << display << QByteArray("show = 0\n") << 0 << true;
    }
}

void TestOrvanePaths::withoutDisplay()
{
    QFETCH(QString, display);
    QFETCH(QByteArray, stored);
    QFETCH(int, exitCode);
    QFETCH(bool, installerStarted);

    Installation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    if (!stored.isNull())
        QVERIFY(installation.writeFile("workdir/libpath", stored));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    if (!display.isNull())
        environment.insert("DISPLAY", display);

    const Installation::Result result = installation.run({"a"}, environment);
    QVERIFY2(result.finished, result.output.constData());
    QVERIFY2(result.exitCode == exitCode, result.output.constData());
    if (installerStarted) {
        const QJsonObject record = waitForRecord(installation.workDir());
        QCOMPARE(recordedArguments(record), QStringList{"a"});
        QVERIFY(record.value("QT_QPA_PLATFORM").isNull());
    } else {
        QVERIFY2(result.output.contains("Error. No display to show the window on"),
                 result.output.constData());
        QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-received.json"));
        QVERIFY(!QFile::exists(installation.workDir() + "/libpath"));
    }
}

QTEST_GUILESS_MAIN(TestOrvanePaths)
#include "tst_orvanepaths.moc"
