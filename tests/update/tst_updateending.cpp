// The end of the self-update mode: what the deferred-copy interpreter is told
// on Windows and on Linux (and what /bin/sh makes of it), the Windows command
// buffer and environment block, and the error file.

#include "platform/environment.h"
#include "platform/hiddenprocess.h"
#include "update/commandchain.h"
#include "update/deferredcopy.h"
#include "update/errorreport.h"
#include "update/shellchain.h"

#include "testsupport.h"

#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

using Update::CopyList;

class TestUpdateEnding : public QObject
{
    Q_OBJECT

private slots:
    void windowsCommandLine();
    void windowsPathsStayLiteral_data();
    void windowsPathsStayLiteral();
    void windowsFileLimit_data();
    void windowsFileLimit();
    void windowsPathLimit_data();
    void windowsPathLimit();
    void temporaryNameBesideTarget_data();
    void temporaryNameBesideTarget();
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

void TestUpdateEnding::windowsCommandLine()
{
    // After the system's ping, per file: copy to the temporary name, move
    // that over the target, give the error file the next file's report
    // (after the last, the other errors' report, which is opened); then the
    // start directory and the restart. A failure
    // deletes the temporaries and the reports and opens the error file,
    // which holds the report of the first file not copied.
    QCOMPARE(Update::deferredCopyCommandLine(2, true),
             QString("cmd /v:off /c (\"%ORVANE_P%\" -n 3 localhost)"
                     " && copy /Y \"%ORVANE_S1%\" \"%ORVANE_N1%\""
                     " && move /Y \"%ORVANE_N1%\" \"%ORVANE_T1%\""
                     " && move /Y \"%ORVANE_E%2\" \"%ORVANE_F%\""
                     " && copy /Y \"%ORVANE_S2%\" \"%ORVANE_N2%\""
                     " && move /Y \"%ORVANE_N2%\" \"%ORVANE_T2%\""
                     " && move /Y \"%ORVANE_E%0\" \"%ORVANE_F%\""
                     " && start \"\" \"%ORVANE_X%\" \"%ORVANE_F%\""
                     " && cd /d \"%ORVANE_D%\" && start \"\" \"%ORVANE_R%\""
                     " || (del /f /q \"%ORVANE_N1%\" \"%ORVANE_N2%\" \"%ORVANE_E%*\""
                     " & if exist \"%ORVANE_F%\" start \"\" \"%ORVANE_X%\" \"%ORVANE_F%\")"));
    // Without other errors the last copy leaves no error file.
    QVERIFY(Update::deferredCopyCommandLine(1, false).contains(
        " && move /Y \"%ORVANE_N1%\" \"%ORVANE_T1%\" && del \"%ORVANE_F%\" && cd "));
    // The reports, written by the program: the first is the error file.
    const Update::DeferredCopy copy{
        {{"C:/app/a.dll", "C:/w/a.dll_"}, {"C:/app/b.dll", "C:/w/b.dll_"}},
        {"Файл C:/w/c.dll_ не существует."},
        "C:/w/Orvane.err",
        "C:/app/Orvane.exe",
        "C:/",
        {}};
    const QString a = "Файл C:/w/a.dll_ не может быть скопирован. ";
    const QString b = "Файл C:/w/b.dll_ не может быть скопирован. ";
    QCOMPARE(Update::deferredCopyReports(copy, 7),
             (QList<QPair<QString, QStringList>>{
                 {"C:/w/Orvane.err", copy.otherErrors + QStringList{a, b}},
                 {"C:/w/.Orvane-report-7-2", copy.otherErrors + QStringList{b}},
                 {"C:/w/.Orvane-report-7-0", copy.otherErrors}}));
}

// Characters the interpreter would read as syntax reach it only as values of
// variables, which it expands once and does not read again.
void TestUpdateEnding::windowsPathsStayLiteral_data()
{
    QTest::addColumn<QString>("piece");

    QTest::newRow("variable reference") << "Обновление %OS% 2024";
    QTest::newRow("lone percent") << "100% готово";
    QTest::newRow("place markers") << "%1 %0";
    QTest::newRow("caret and ampersand") << "R^D & Co";
    QTest::newRow("exclamation marks") << "!bang!";
    QTest::newRow("pipe and redirections") << "a|b<c>d";
}

void TestUpdateEnding::windowsPathsStayLiteral()
{
    QFETCH(QString, piece);
    const QString target = "C:/app/" + piece + "/lib.dll";
    const QString source = "C:/upd/" + piece + "/workdir/lib.dll_";
    const QString restart = "C:/app/" + piece + "/Orvane.exe";
    const QString start = "D:/" + piece;

    const QString errorFile = "C:/upd/" + piece + "/workdir/Orvane.err";

    const Update::VariableList variables = Update::deferredCopyVariables(
        {{{target, source}}, {}, errorFile, restart, start, {}}, 7, "C:\\W\\system32", "C:\\W");
    QCOMPARE(variables,
             (Update::VariableList{{"ORVANE_S1", source},
                                   {"ORVANE_N1", "C:/app/" + piece + "/.Orvane-deferred-7-1"},
                                   {"ORVANE_T1", target},
                                   {"ORVANE_D", start},
                                   {"ORVANE_R", restart},
                                   {"ORVANE_E", "C:/upd/" + piece + "/workdir/.Orvane-report-7-"},
                                   {"ORVANE_F", "C:\\upd\\" + piece + "\\workdir\\Orvane.err"},
                                   {"ORVANE_P", "C:\\W\\system32\\ping.exe"},
                                   {"ORVANE_X", "C:\\W\\notepad.exe"}}));
}

// The line's length depends on the number of files only, whatever the
// paths: it must fit the buffer (999 units and the NUL at most).
void TestUpdateEnding::windowsFileLimit_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("otherErrors");
    QTest::addColumn<bool>("fits");

    QTest::newRow("1") << 1 << true << true;
    QTest::newRow("6") << 6 << false << true;
    QTest::newRow("7") << 7 << false << false;
    QTest::newRow("6 with other errors") << 6 << true << true;
}

void TestUpdateEnding::windowsFileLimit()
{
    QFETCH(int, files);
    QFETCH(bool, otherErrors);
    QFETCH(bool, fits);
    const QString line = Update::deferredCopyCommandLine(files, otherErrors);
    QCOMPARE(Platform::fitsCommandBuffer(static_cast<std::size_t>(line.size())), fits);
    // The program restarted by the interpreter drops every variable the
    // interpreter got, and nothing else of the program's name.
    Update::DeferredCopy copy;
    for (int n = 0; n < files; ++n)
        copy.copies.append(Update::FileCopy{"C:/app/a.dll", "C:/w/a.dll_"});
    for (const auto &variable : Update::deferredCopyVariables(copy, 7, "S", "W"))
        QVERIFY2(Update::isDeferredCopyVariable(variable.first), qPrintable(variable.first));
    QVERIFY(Update::isDeferredCopyVariable("orvane_r"));
    for (const char *other : {"ORVANE_LAYOUT_REPORT", "ORVANE_S", "ORVANE_S0", "ORVANE_RX"})
        QVERIFY2(!Update::isDeferredCopyVariable(other), other);
}

void TestUpdateEnding::windowsPathLimit_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("startDirectory");
    QTest::addColumn<QString>("expected"); // the path reported, or empty

    const auto d = [](int n) { return QString(n, 'd'); };
    const QString start = "C:/start";
    QTest::newRow("short paths") << "C:/app/a.dll" << start << "";
    QTest::newRow("target of 259 units") << "C:/" + d(256) << start << "";
    QTest::newRow("target of 260 units") << "C:/" + d(257) << start << "C:/" + d(257);
    // The temporary name ".Orvane-deferred-7-1" beside the target.
    QTest::newRow("temporary name of 260 units")
        << "C:/" + d(236) + "/a" << start << "C:/" + d(236) + "/.Orvane-deferred-7-1";
    QTest::newRow("start directory of 258 units") << "C:/app/a.dll"
                                                  << "C:/" + d(255) << "";
    QTest::newRow("start directory of 259 units") << "C:/app/a.dll"
                                                  << "C:/" + d(256) << "C:/" + d(256);
    QTest::newRow("long form") << "\\\\?\\C:\\app\\a.dll" << start
                               << "\\\\?\\C:\\app\\.Orvane-deferred-7-1";
}

// A path the interpreter cannot take is found before any chain starts.
void TestUpdateEnding::windowsPathLimit()
{
    QFETCH(QString, target);
    QFETCH(QString, startDirectory);
    QFETCH(QString, expected);
    const Update::DeferredCopy copy{{Update::FileCopy{target, "C:/w/a.dll_"}},
                                    {},
                                    "C:/w/Orvane.err",
                                    "C:/app/Orvane.exe",
                                    startDirectory,
                                    {}};
    QCOMPARE(Update::pathBeyondInterpreter(copy, 7), expected);
}

void TestUpdateEnding::temporaryNameBesideTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("temporary");
    QTest::addColumn<QString>("report"); // the second

    QTest::newRow("forward slashes") << "C:/app/sub/a.dll"
                                     << ""
                                     << "C:/app/sub/.Orvane-deferred-7-1"
                                     << "C:/w/.Orvane-report-7-2";
    QTest::newRow("backslashes") << "C:\\app\\a.dll"
                                 << ""
                                 << "C:\\app\\.Orvane-deferred-7-1"
                                 << "C:/w/.Orvane-report-7-2";
    QTest::newRow("drive root") << "C:/a.dll"
                                << ""
                                << "C:/.Orvane-deferred-7-1"
                                << "C:/w/.Orvane-report-7-2";
    // Two machines that share the directories never share a name, and each
    // knows its own.
    QTest::newRow("the machine's mark") << "C:/app/a.dll"
                                        << "0123456789ab"
                                        << "C:/app/.Orvane-deferred-7-0123456789ab-1"
                                        << "C:/w/.Orvane-report-7-0123456789ab-2";
}

void TestUpdateEnding::temporaryNameBesideTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, host);
    QFETCH(QString, temporary);
    QFETCH(QString, report);
    const Update::DeferredCopy copy{{{target, "C:/w/a.dll_"}, {target, "C:/w/a.dll_"}},
                                    {},
                                    "C:/w/Orvane.err",
                                    "C:/app/Orvane.exe",
                                    "C:/",
                                    {}};
    const Update::VariableList variables = Update::deferredCopyVariables(copy, 7, "S", "W", host);
    QCOMPARE(variables.at(1), qMakePair(QString("ORVANE_N1"), temporary));
    QCOMPARE(Update::deferredCopyReports(copy, 7, host).value(1).first, report);
    qint64 chain = 0;
    QString named;
    QVERIFY(Update::isDeferredCopyFileName(temporary.split(QRegularExpression("[/\\\\]")).last(),
                                           &chain, &named));
    QCOMPARE(chain, qint64(7));
    QCOMPARE(named, host);
    QVERIFY(Update::isDeferredCopyHost(Update::deferredCopyHost()));
}

void TestUpdateEnding::shellArguments()
{
    const Update::DeferredCopy copy{{{"/opt/app/a.so", "/opt/app/workdir/a.so_"},
                                     {"/opt/app/$(id)/b.so", "/opt/app/workdir/$(id)/b.so_"}},
                                    {"x", "y"},
                                    "/opt/app/workdir/Orvane.err",
                                    "/opt/app/Orvane",
                                    "/home/u/$(id)",
                                    {}};
    const QStringList arguments = Update::deferredCopyShellArguments(copy, "/usr/bin/xdg-open");

    QCOMPARE(arguments.at(0), QString("-c"));
    // The script is the same whatever the files: no path is ever part of it.
    QCOMPARE(arguments.at(1), Update::deferredCopyShellArguments({}).at(1));
    QCOMPARE(
        arguments.mid(3),
        QStringList({"/opt/app/Orvane", "/home/u/$(id)", "/opt/app/workdir/Orvane.err", "x\r\ny",
                     "/usr/bin/xdg-open", "", ".Orvane-deferred-", "/opt/app/workdir/a.so_",
                     "/opt/app/a.so", "Файл /opt/app/workdir/a.so_ не может быть скопирован. ",
                     "/opt/app/workdir/$(id)/b.so_", "/opt/app/$(id)/b.so",
                     "Файл /opt/app/workdir/$(id)/b.so_ не может быть скопирован. "}));
}

// The script run by the real /bin/sh, waited for here (Orvane does not).
static int modeOf(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                     : -1;
}

void TestUpdateEnding::shellRunsTheChain_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("missingSources");
    QTest::addColumn<QStringList>("directoryTargets");
    QTest::addColumn<QStringList>("copied");
    QTest::addColumn<bool>("restarted");
    QTest::addColumn<QStringList>("otherErrors");
    QTest::addColumn<bool>("systemPath"); // PATH holds the system's tools
    // What has the error file's name before: "" nothing, "link" a link to
    // the user's file elsewhere, "fifo" a FIFO.
    QTest::addColumn<QString>("errorFileBefore");
    QTest::addColumn<int>("umaskValue");
    QTest::addColumn<QStringList>("newTargets"); // names whose target is missing

    const QStringList hostile{"a b;c", "$(touch pwned)", "`touch pwned`", "-n", "q\"uo'te", "x\ny",
                              "*"};
    QTest::newRow("every copy, then the restart")
        << hostile << QStringList() << QStringList() << hostile << true << QStringList() << true
        << "" << 022 << QStringList();
    QTest::newRow("a missing new version ends the chain; a linked error file is replaced")
        << QStringList{"first", "second", "third"} << QStringList{"second"} << QStringList()
        << QStringList{"first"} << false << QStringList{"Файл a_ не существует."} << true << "link"
        << 022 << QStringList();
    QTest::newRow("a directory in the target's place ends the chain")
        << QStringList{"first", "plugins", "third"} << QStringList() << QStringList{"plugins"}
        << QStringList{"first"} << false << QStringList() << true << "fifo" << 022 << QStringList();
    QTest::newRow("no system tools on PATH; the other errors are reported, then the restart")
        << QStringList{"first"} << QStringList() << QStringList() << QStringList{"first"} << true
        << QStringList{"Файл a_ не существует.", "Файл b_ не существует."} << false << "fifo" << 022
        << QStringList();
    // Whatever the umask, nobody else may write what the chain installs.
    QTest::newRow("umask 000") << QStringList{"first", "second"} << QStringList() << QStringList()
                               << QStringList{"first", "second"} << true << QStringList() << true
                               << "" << 000 << QStringList{"second"};
    QTest::newRow("umask 022, a new file")
        << QStringList{"first"} << QStringList() << QStringList() << QStringList{"first"} << true
        << QStringList() << true << "" << 022 << QStringList{"first"};
    QTest::newRow("umask 077, a failure's report")
        << QStringList{"first", "second"} << QStringList{"second"} << QStringList()
        << QStringList{"first"} << false << QStringList() << true << "" << 077
        << QStringList{"first"};
}

void TestUpdateEnding::shellRunsTheChain()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, missingSources);
    QFETCH(QStringList, directoryTargets);
    QFETCH(QStringList, copied);
    QFETCH(bool, restarted);
    QFETCH(QStringList, otherErrors);
    QFETCH(bool, systemPath);
    QFETCH(QString, errorFileBefore);
    QFETCH(int, umaskValue);
    QFETCH(QStringList, newTargets);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("app/sub"));
    QVERIFY(QDir(dir.path()).mkpath("work"));
    QVERIFY(QDir(dir.path()).mkpath("start $(x)"));
    QVERIFY(QDir(dir.path()).mkpath("bin"));
    const QString restart = dir.filePath("app/restarted");
    QVERIFY(QFile::copy(STANDIN_BINARY, restart));
    QVERIFY(QFile::copy(STANDIN_BINARY, dir.filePath("bin/xdg-open")));

    Update::DeferredCopy copy{
        {}, otherErrors, dir.filePath("work/Orvane.err"), restart, dir.filePath("start $(x)"), {}};
    const QString elsewhere = dir.filePath("users-file");
    QVERIFY(writeFile(elsewhere, "the user's"));
    if (errorFileBefore == "link")
        QVERIFY(QFile::link(elsewhere, copy.errorFile));
    else if (errorFileBefore == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(copy.errorFile).constData(), 0644) == 0);
    for (const QString &name : names) {
        const QString target = dir.filePath("app/" + name);
        const QString source = dir.filePath("work/" + name + "_");
        if (directoryTargets.contains(name))
            QVERIFY(QDir().mkpath(target + "/inside"));
        else if (!newTargets.contains(name))
            QVERIFY(writeFile(target, "old") &&
                    ::chmod(QFile::encodeName(target).constData(), 0644) == 0);
        if (!missingSources.contains(name)) {
            QVERIFY(writeFile(source, "new"));
            // A new version without the execute bit still runs when installed,
            // and it gives no set-user-ID or set-group-ID bits; what it lets
            // others do widens no replaced file's rights, nor lets anybody
            // else write a new one.
            QVERIFY(::chmod(QFile::encodeName(source).constData(), 06666) == 0);
        }
        copy.copies.append({target, source});
    }

    QProcess shell;
    shell.setWorkingDirectory(dir.filePath("work"));
    shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString path = dir.filePath("bin") + (systemPath ? ':' + environment.value("PATH") : "");
    environment.insert("PATH", path);
    shell.setProcessEnvironment(environment);
    const mode_t umaskBefore = ::umask(static_cast<mode_t>(umaskValue));
    shell.start("/bin/sh", Update::deferredCopyShellArguments(copy, dir.filePath("bin/xdg-open")));
    ::umask(umaskBefore);
    QVERIFY(shell.waitForFinished(20000));
    QCOMPARE(shell.exitCode() == 0, restarted);

    QStringList notCopied;
    for (const QString &name : names) {
        const QString target = dir.filePath("app/" + name);
        if (!copied.contains(name))
            notCopied << "Файл " + dir.filePath("work/" + name + "_") +
                             " не может быть скопирован. ";
        if (directoryTargets.contains(name)) {
            QCOMPARE(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList{"inside"});
            continue;
        }
        if (newTargets.contains(name) && !copied.contains(name)) {
            QVERIFY(!QFileInfo::exists(target));
            continue;
        }
        QCOMPARE(readFile(target), QByteArray(copied.contains(name) ? "new" : "old"));
        if (copied.contains(name))
            QCOMPARE(QString::number(modeOf(target), 8), QString("744"));
    }
    // Neither a failed nor a successful copy leaves its temporary file.
    QCOMPARE(QDir(dir.filePath("app")).entryList({".Orvane*"}, QDir::AllEntries | QDir::Hidden),
             QStringList());
    // A failure, and other errors, are reported in the error file, which is
    // opened: the other errors first, then every file not copied, the first
    // with the system's reason.
    // Whatever had its name before is replaced, never written through.
    if (!notCopied.isEmpty() || !otherErrors.isEmpty()) {
        QVERIFY(!waitForRecord(dir.filePath("work"), "xdg-open").isEmpty());
        QVERIFY(QFileInfo(copy.errorFile).isFile() && !QFileInfo(copy.errorFile).isSymLink());
        QCOMPARE(QString::number(modeOf(copy.errorFile), 8), QString("600"));
        QCOMPARE(readFile(elsewhere), QByteArray("the user's"));
        const QByteArray report = readFile(copy.errorFile);
        const QStringList lines = QString::fromLocal8Bit(report).split("\r\n");
        QCOMPARE(lines.mid(0, otherErrors.size()), otherErrors);
        QCOMPARE(lines.size(), otherErrors.size() + notCopied.size());
        for (int i = 0; i < notCopied.size(); ++i) {
            const QString &line = lines.at(otherErrors.size() + i);
            QVERIFY2(line.startsWith(notCopied.at(i)) && (i == 0) == (line != notCopied.at(i)),
                     qPrintable(line));
        }
    } else {
        QVERIFY(!QFileInfo::exists(copy.errorFile));
    }
    // The restarted program starts in the directory it was given, with the
    // environment as it was.
    const QString record = dir.filePath("start $(x)/restarted-received.json");
    QCOMPARE(QFile::exists(record), restarted);
    if (restarted) {
        const QJsonObject received = waitForRecord(dir.filePath("start $(x)"), "restarted");
        QCOMPARE(recordedArguments(received), QStringList());
        QCOMPARE(received.value("PATH").toString(), path);
    }
    QVERIFY(!QFile::exists(dir.filePath("work/pwned")));
    QVERIFY(!QFile::exists(dir.filePath("start $(x)/pwned")));
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
    QCOMPARE(Platform::fitsCommandBuffer(static_cast<std::size_t>(units)), fits);
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
             Installation::Ok);
    QCOMPARE(Update::writeErrorFile(path, {"short", "x"}), Installation::Ok);
    QCOMPARE(readFile(path), QByteArray("short\r\nx"));
}

void TestUpdateEnding::errorFileFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("diagnostic");

    QTest::newRow("a directory in its place")
        << "directory" << 3 << "^\"Error\\. Can't open err file Is a directory\"$";
    QTest::newRow("the file-size limit is reached")
        << "limit" << 5 << "^\"Error\\. Can't write to err file File too large\"$";
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
    // A write beyond the limit fails instead of ending this process.
    Platform::failOversizedWrites();
    rlimit limit = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
    const rlimit small{kind == "limit" ? 8 : limit.rlim_cur, limit.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(diagnostic));
    const int written = Update::writeErrorFile(path, {"Файл /w/a_ не существует."});
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    QCOMPARE(written, exitCode);
}

QTEST_GUILESS_MAIN(TestUpdateEnding)
#include "tst_updateending.moc"
