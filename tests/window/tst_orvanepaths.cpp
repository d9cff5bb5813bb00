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
    void showsWindowWithoutLibpath_data();
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
    // An empty entry would make the loader search the working directory.
    QTest::newRow("blank and empty entries") << " /usr/lib: ::"
                                             << "/usr/lib:/opt/a:/opt/клиент";
}

void TestOrvanePaths::dontAskStartsInstallerAtOnce()
{
    QFETCH(QString, inherited);
    QFETCH(QString, expected);

    TempInstallation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    const QByteArray stored = "\npath = /opt/a\npath = \npath = /opt/клиент\nshow = 0\n";
    QVERIFY(installation.writeFile("workdir/libpath", stored));
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    environment.remove("LD_LIBRARY_PATH");
    if (!inherited.isNull())
        environment.insert("LD_LIBRARY_PATH", inherited);

    const TempInstallation::Result result = installation.run({"a b", "c"}, environment);
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
    QCOMPARE(readFile(installation.workDir() + "/libpath"), stored);
}

void TestOrvanePaths::showsWindowWithoutLibpath_data()
{
    QTest::addColumn<int>("dpi");               // the desktop's Xft.dpi
    QTest::addColumn<QStringList>("variables"); // the user's own, NAME=VALUE
    QTest::addColumn<double>("scale");          // the window's
    QTest::addColumn<bool>("fits");             // every text fits its widget

    QTest::newRow("100 %") << 96 << QStringList() << 1.0 << true;
    QTest::newRow("125 %") << 120 << QStringList() << 1.25 << true;
    QTest::newRow("150 %") << 144 << QStringList() << 1.5 << true;
    QTest::newRow("200 %") << 192 << QStringList() << 2.0 << true;
    // The user's own settings still count: scaling switched off leaves the
    // fonts at 150 % in the geometry of 100 %, which cuts the texts.
    QTest::newRow("150 %, scaling switched off")
        << 144 << QStringList{"QT_ENABLE_HIGHDPI_SCALING=0"} << 1.0 << false;
    QTest::newRow("100 %, scale factor 1.5")
        << 96 << QStringList{"QT_SCALE_FACTOR=1.5"} << 1.5 << true;
}

void TestOrvanePaths::showsWindowWithoutLibpath()
{
    QFETCH(int, dpi);
    QFETCH(QStringList, variables);
    QFETCH(double, scale);
    QFETCH(bool, fits);

    // The window is looked for and clicked on a virtual X display of its own,
    // set to the desktop's scale as desktops do, in its X resources.
    if (QStandardPaths::findExecutable("xrdb").isEmpty())
        QSKIP("xrdb is not installed");
    VirtualDisplay display;
    QString missing;
    if (!display.start(&missing))
        QSKIP(qPrintable(missing));
    display.runTool("xrdb", {"-nocpp", "-load"}, "Xft.dpi: " + QByteArray::number(dpi));

    TempInstallation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    // The installer's own Qt beside it changes nothing.
    QVERIFY(installation.addInstallersQt("[Paths]\nPlugins=plugins\n"));
    QProcess paths;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display.name());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("ORVANE_LAYOUT_REPORT", "1");
    environment.remove("LD_LIBRARY_PATH");
    for (const QString &variable : variables)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
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

    // The window appears under its title, and it waits for the user. It has
    // grown with the scale, and its texts fit or are cut as the program
    // measures them with the fonts it draws.
    const QByteArray report = waitForLayoutReport(paths);
    QVERIFY2(report.contains("scale " + QByteArray::number(scale) + ","), report.constData());
    QCOMPARE(report.endsWith("texts cut: none"), fits);
    const QString window = display.waitForWindow("Установщик обновлений", &paths, 10000);
    QVERIFY2(!window.isEmpty(), paths.readAll().constData());
    QCOMPARE(paths.state(), QProcess::Running);
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-received.json"));
    QVERIFY(!QFile::exists(installation.workDir() + "/libpath"));
    const QSize size = display.windowSize(window);
    QVERIFY2(isScaledFormSize(size, scale),
             qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));

    // A click on the start button (relative to the window) saves, starts
    // the installer and ends the program.
    display.clickUntilFinished(window, qRound(324 * scale), qRound(381 * scale), paths);
    QCOMPARE(paths.state(), QProcess::NotRunning);
    const QByteArray output = paths.readAll();
    QCOMPARE(paths.exitStatus(), QProcess::NormalExit);
    QVERIFY2(paths.exitCode() == 0, output.constData());
    const QJsonObject record = waitForRecord(installation.workDir());
    QVERIFY2(!record.isEmpty(), output.constData());
    QCOMPARE(record.value("LD_LIBRARY_PATH").toString(), QString("/usr/local/lib"));
    QCOMPARE(recordedArguments(record), QStringList{"x"});
    QCOMPARE(readFile(installation.workDir() + "/libpath"),
             QByteArray("\npath = /usr/local/lib\nshow = 1\n"));
}

void TestOrvanePaths::startupFailure()
{
    // The same start-up as Orvane: a file where the working directory
    // belongs ends the program with exit code 2 before any window.
    TempInstallation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("blocker", "a file"));
    QVERIFY(installation.writeFile("workpath", "./blocker"));

    const TempInstallation::Result result = installation.run({"a"});
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

    TempInstallation installation(QStringLiteral(ORVANEPATHS_BINARY));
    QVERIFY(installation.isValid());
    if (!stored.isNull())
        QVERIFY(installation.writeFile("workdir/libpath", stored));
    QProcessEnvironment environment =
        withoutDisplayVariables(QProcessEnvironment::systemEnvironment());
    if (!display.isNull())
        environment.insert("DISPLAY", display);

    const TempInstallation::Result result = installation.run({"a"}, environment);
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
