// The end of the self-update mode: what the deferred-copy interpreter is told
// on Windows and on Linux, the Windows command buffer, and the error file.

#include "update/deferredcopy.h"
#include "update/errorreport.h"

#include "testsupport.h"

#include <QtTest>

using Update::CopyList;

class TestUpdateEnding : public QObject
{
    Q_OBJECT

private slots:
    void windowsCommandLine_data();
    void windowsCommandLine();
    void shellArguments();
    void shellRunsTheChain_data();
    void shellRunsTheChain();
    void commandBuffer_data();
    void commandBuffer();
    void errorFileContent_data();
    void errorFileContent();
    void errorFileIsReplaced();
    void errorFileFailures_data();
    void errorFileFailures();
};

void TestUpdateEnding::windowsCommandLine_data()
{
    QTest::addColumn<CopyList>("copies"); // (target, source)
    QTest::addColumn<QString>("restart");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two pending files: wait, copy a, copy b, restart")
        << CopyList{{"C:/app/a.dll", "C:/upd/workdir/a.dll_"},
                    {"C:/app/plugins/b 1.dll", "C:/upd/workdir/plugins/b 1.dll_"}}
        << "C:/app/Orvane.exe"
        << "cmd.exe /c ping -n 3 localhost"
           " && copy /Y \"C:/upd/workdir/a.dll_\" \"C:/app/a.dll\""
           " && copy /Y \"C:/upd/workdir/plugins/b 1.dll_\" \"C:/app/plugins/b 1.dll\""
           " && \"C:/app/Orvane.exe\"";
    QTest::newRow("place markers inside paths stay as they are")
        << CopyList{{"C:/app/%0.dll", "C:/100%1/%0.dll_"}} << "C:/%1/Orvane.exe"
        << "cmd.exe /c ping -n 3 localhost && copy /Y \"C:/100%1/%0.dll_\" \"C:/app/%0.dll\""
           " && \"C:/%1/Orvane.exe\"";
}

void TestUpdateEnding::windowsCommandLine()
{
    QFETCH(CopyList, copies);
    QFETCH(QString, restart);
    QFETCH(QString, expected);
    QCOMPARE(Update::deferredCopyCommandLine(copies, restart), expected);
}

void TestUpdateEnding::shellArguments()
{
    const CopyList copies{{"/opt/app/a.so", "/opt/app/workdir/a.so_"},
                          {"/opt/app/$(id)/b.so", "/opt/app/workdir/$(id)/b.so_"}};
    const QStringList arguments =
        Update::deferredCopyShellArguments(copies, QStringLiteral("/opt/app/Orvane"));

    QCOMPARE(arguments.size(), 8);
    QCOMPARE(arguments.at(0), QString("-c"));
    // The script is the same whatever the files: no path is ever part of it.
    QCOMPARE(arguments.at(1), Update::deferredCopyShellArguments({}, "/x").at(1));
    QCOMPARE(arguments.mid(3),
             QStringList({"/opt/app/Orvane", "/opt/app/workdir/a.so_", "/opt/app/a.so",
                          "/opt/app/workdir/$(id)/b.so_", "/opt/app/$(id)/b.so"}));
}

// The script run by the real /bin/sh, waited for here (Orvane does not).
void TestUpdateEnding::shellRunsTheChain_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("missingSources");
    QTest::addColumn<QStringList>("copied");
    QTest::addColumn<bool>("restarted");

    const QStringList hostile{"a b;c", "$(touch pwned)", "`touch pwned`", "-n", "q\"uo'te", "x\ny",
                              "*"};
    QTest::newRow("every copy, then the restart") << hostile << QStringList() << hostile << true;
    QTest::newRow("a failed copy ends the chain")
        << QStringList{"first", "second", "third"} << QStringList{"second"} << QStringList{"first"}
        << false;
}

void TestUpdateEnding::shellRunsTheChain()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, missingSources);
    QFETCH(QStringList, copied);
    QFETCH(bool, restarted);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("app"));
    QVERIFY(QDir(dir.path()).mkpath("work"));
    const QString restart = dir.filePath("app/restarted");
    QVERIFY(QFile::copy(STANDIN_BINARY, restart));

    CopyList copies;
    for (const QString &name : names) {
        const QString target = dir.filePath("app/" + name);
        const QString source = dir.filePath("work/" + name + "_");
        QVERIFY(writeFile(target, "old"));
        if (!missingSources.contains(name))
            QVERIFY(writeFile(source, "new"));
        copies.append({target, source});
    }

    QProcess shell;
    shell.setWorkingDirectory(dir.filePath("work"));
    shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    shell.start("/bin/sh", Update::deferredCopyShellArguments(copies, restart));
    QVERIFY(shell.waitForFinished(20000));
    QCOMPARE(shell.exitCode() == 0, restarted);

    for (const QString &name : names) {
        QCOMPARE(readFile(dir.filePath("app/" + name)),
                 QByteArray(copied.contains(name) ? "new" : "old"));
    }
    const QString record = dir.filePath("work/restarted-received.json");
    QCOMPARE(QFile::exists(record), restarted);
    if (restarted)
        QCOMPARE(recordedArguments(waitForRecord(dir.filePath("work"), "restarted")),
                 QStringList());
    QVERIFY(!QFile::exists(dir.filePath("work/pwned")));
}

void TestUpdateEnding::commandBuffer_data()
{
    QTest::addColumn<int>("units");
    QTest::addColumn<bool>("fits");

    // 1000 UTF-16 code units, the terminating NUL included.
    QTest::newRow("998") << 998 << true;
    QTest::newRow("999: with the NUL exactly full") << 999 << true;
    QTest::newRow("1000") << 1000 << false;
    QTest::newRow("1001") << 1001 << false;
}

void TestUpdateEnding::commandBuffer()
{
    QFETCH(int, units);
    QFETCH(bool, fits);
    // A character outside the Basic Multilingual Plane takes two units.
    const QString surrogatePair = QString::fromUcs4(U"\U0001F600", 1);
    QCOMPARE(surrogatePair.size(), 2);
    QCOMPARE(Update::fitsCommandBuffer(QString(units, 'x')), fits);
    QCOMPARE(Update::fitsCommandBuffer(QString(units - 2, 'x') + surrogatePair), fits);
}

void TestUpdateEnding::errorFileContent_data()
{
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one message: no line end")
        << QStringList{"Файл /w/a_ не существует."} << "Файл /w/a_ не существует.";
    QTest::newRow("CR LF between messages, none after the last")
        << QStringList{"first", "second", "third"} << "first\r\nsecond\r\nthird";
    QTest::newRow("an empty message keeps its line") << QStringList{"a", "", "b"} << "a\r\n\r\nb";
}

void TestUpdateEnding::errorFileContent()
{
    QFETCH(QStringList, errors);
    QFETCH(QString, expected);
    QCOMPARE(Update::errorFileContent(errors), expected.toLocal8Bit());
}

void TestUpdateEnding::errorFileIsReplaced()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = Update::errorFilePath(dir.path());
    QCOMPARE(path, dir.path() + "/Orvane.err");

    QCOMPARE(Update::writeErrorFile(path, {"a long first message", "and another one"}),
             Install::Ok);
    QCOMPARE(Update::writeErrorFile(path, {"short", "x"}), Install::Ok);
    QCOMPARE(readFile(path), QByteArray("short\r\nx"));
}

void TestUpdateEnding::errorFileFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("diagnostic");

    QTest::newRow("a directory in its place")
        << "directory" << 3 << "^\"Error\\. Can't open err file .+\"$";
    QTest::newRow("full disk") << "full" << 5
                               << "^\"Error\\. Can't write to err file No space left on device\"$";
}

void TestUpdateEnding::errorFileFailures()
{
    QFETCH(QString, kind);
    QFETCH(int, exitCode);
    QFETCH(QString, diagnostic);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = Update::errorFilePath(dir.path());
    if (kind == "directory")
        QVERIFY(QDir().mkpath(path + "/inside"));
    else
        QVERIFY(QFile::link("/dev/full", path));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(diagnostic));
    QCOMPARE(int(Update::writeErrorFile(path, {"Файл /w/a_ не существует."})), exitCode);
}

QTEST_GUILESS_MAIN(TestUpdateEnding)
#include "tst_updateending.moc"
