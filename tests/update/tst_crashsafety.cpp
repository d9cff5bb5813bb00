// The self-update mode never leaves the installation worse than it found it:
// runs of the built Orvane killed at random moments, two runs at once, the
// order of its system calls, and files that cannot be replaced (a directory
// in the way, a full disk).

#include "testsupport.h"
#include "update/stagedfile.h"

#include <QtTest>

#include <csignal>
#include <unistd.h>

class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedRunsLoseNothing();
    void interruptedUpdateIsFinished_data();
    void interruptedUpdateIsFinished();
    void secondUpdateWaitsForDeferredCopy();
    void concurrentRunsTakeTurns();
    void flushedBeforeRenamedNeverUnlinked();
    void failuresReportedAtOnce_data();
    void failuresReportedAtOnce();
    void failedFlushCostsNoOtherFile();
};

static const int fileCount = 120;

static QStringList names(int count = fileCount)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(QString("lib/file%1.so").arg(i, 3, 10, QChar('0')));
    return list;
}

// Distinct old and new contents per file, of different sizes, so that a file
// holding a mix or a part of either is caught.
static QByteArray oldContent(const QString &name)
{
    return QByteArray("old ").append(name.toUtf8()).repeated(300);
}

static QByteArray newContent(const QString &name)
{
    return QByteArray("new version of ").append(name.toUtf8()).repeated(600);
}

static bool layOut(TempInstallation &installation, const QStringList &files)
{
    for (const QString &name : files) {
        if (!installation.writeFile(name, oldContent(name)) ||
            !writeFile(installation.workDir() + '/' + name + '_', newContent(name)))
            return false;
    }
    return true;
}

// Staged files anywhere in the installation.
static QStringList stagedFiles(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (Update::isStagedFileName(it.fileName()))
            found.append(it.filePath());
    }
    return found;
}

// The names whose installed file is neither the complete old nor the
// complete new version.
static QStringList damaged(const TempInstallation &installation, const QStringList &files)
{
    QStringList list;
    for (const QString &name : files) {
        const QByteArray content = readFile(installation.path() + '/' + name);
        if (content != oldContent(name) && content != newContent(name))
            list.append(name);
    }
    return list;
}

static QStringList allNew(const TempInstallation &installation, const QStringList &files)
{
    QStringList notNew;
    for (const QString &name : files) {
        if (readFile(installation.path() + '/' + name) != newContent(name))
            notNew.append(name);
    }
    return notNew;
}

// Outside CI a missing strace skips the calling test; in CI it fails it.
#define REQUIRE_STRACE()                                                                           \
    do {                                                                                           \
        if (QStandardPaths::findExecutable("strace").isEmpty()) {                                  \
            if (qEnvironmentVariable("CI") == "true")                                              \
                QFAIL("strace is not installed");                                                  \
            QSKIP("strace is not installed");                                                      \
        }                                                                                          \
    } while (false)

// LeakSanitizer cannot work under ptrace: in the sanitizer build a traced
// program is checked for everything but leaks.
static QProcessEnvironment tracedEnvironment()
{
    QProcessEnvironment environment = TempInstallation::testEnvironment();
    const QString options = environment.value("ASAN_OPTIONS");
    if (!options.isEmpty())
        environment.insert("ASAN_OPTIONS", options + ":detect_leaks=0");
    return environment;
}

static QStringList straceWrapper(const QString &output, const QString &calls)
{
    return {"strace", "-ttt", "-y", "-qq", "-o", output, "-e", "trace=" + calls};
}

void TestCrashSafety::killedRunsLoseNothing()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QStringList files = names();
    QVERIFY(layOut(installation, files));
    const QStringList arguments = QStringList{"-r"} + files;

    // An uninterrupted run shows how long a run takes here.
    QElapsedTimer clock;
    clock.start();
    const TempInstallation::Result calibration = installation.run(arguments);
    const qint64 runMs = qMax<qint64>(clock.elapsed(), 20);
    QCOMPARE(calibration.exitCode, 0);
    QCOMPARE(allNew(installation, files), QStringList());

    int trials = 0;
    int mixed = 0;
    QElapsedTimer budget;
    budget.start();
    while (trials < 60 && budget.elapsed() < 12000) {
        ++trials;
        for (const QString &name : files)
            QVERIFY(installation.writeFile(name, oldContent(name)));
        QProcess run;
        run.setProcessEnvironment(TempInstallation::testEnvironment());
        run.setWorkingDirectory(installation.path());
        run.setStandardOutputFile(QProcess::nullDevice());
        run.setStandardErrorFile(QProcess::nullDevice());
        run.start(installation.programPath(), arguments);
        QVERIFY(run.waitForStarted());
        QThread::msleep(QRandomGenerator::global()->bounded(static_cast<quint32>(runMs)));
        run.kill(); // SIGKILL
        QVERIFY(run.waitForFinished());

        QCOMPARE(damaged(installation, files), QStringList());
        const int replaced = files.size() - allNew(installation, files).size();
        if (replaced > 0 && replaced < files.size())
            ++mixed;
    }
    qInfo("%d trials, %d killed in the middle of the pass", trials, mixed);

    // The next complete run takes over the dead run's lock and clears what it
    // left.
    const TempInstallation::Result complete = installation.run(arguments);
    QCOMPARE(complete.exitCode, 0);
    QVERIFY2(complete.output.contains("Success!"), complete.output.constData());
    QCOMPARE(allNew(installation, files), QStringList());
    QCOMPARE(stagedFiles(installation.path()), QStringList());
}

// A file mounted over itself is busy (EBUSY) until it is unmounted: the
// structural stand-in for a file in use, which only the deferred copy
// replaces. Needs root.
struct BusyFile
{
    explicit BusyFile(const QString &path)
        : path(path)
        , held(::geteuid() == 0 && QProcess::execute("mount", {"--bind", path, path}) == 0)
    {
    }
    ~BusyFile() { release(); }
    void release()
    {
        if (held)
            QProcess::execute("umount", {path});
        held = false;
    }
    QString path;
    bool held;
};

// The deferred copy's shells that mention text.
static QList<qint64> chainsMentioning(const QString &text)
{
    QList<qint64> found;
    for (const qint64 pid : processesMentioning(text)) {
        if (readFile(QString("/proc/%1/cmdline").arg(pid)).split('\0').contains("orvane-update"))
            found.append(pid);
    }
    return found;
}

static QString recordPath(const TempInstallation &installation)
{
    return installation.workDir() + "/Orvane.journal";
}

// An update cut short anywhere (Orvane killed at a rename, during the flush
// before the renames, or its deferred copy's shell killed while it waits) is
// finished by the next plain start, before the installer runs: every file
// new (or, cut before anything changed, every file old), nothing staged and
// no record left.
void TestCrashSafety::interruptedUpdateIsFinished_data()
{
    QTest::addColumn<QString>("injected"); // strace's fault for the update
    QTest::addColumn<bool>("chainKilled"); // the first file held; its copy's shell killed
    QTest::addColumn<bool>("mayStayOld");  // cut before any target changed
    QTest::addColumn<QString>("starter");  // the program of the next start
    QTest::addColumn<bool>("stagedCut");   // a staged file left short, as by a disk's lost cache

    // The record takes the first two renames (while staging, then ready).
    QTest::newRow("killed at the first replacing rename")
        << "rename:signal=KILL:when=3" << false << false << "Orvane" << false;
    QTest::newRow("killed at a middle replacing rename")
        << "rename:signal=KILL:when=22" << false << false << "Orvane" << false;
    QTest::newRow("killed at the last replacing rename")
        << "rename:signal=KILL:when=42" << false << false << "Orvane" << false;
    QTest::newRow("killed while the staged files are flushed")
        << "syncfs:signal=KILL" << false << true << "Orvane" << false;
    QTest::newRow("the deferred copy's shell killed while it waits")
        << QString() << true << false << "Orvane" << false;
    QTest::newRow("killed at a middle replacing rename, the window's program starts next")
        << "rename:signal=KILL:when=22" << false << false << "OrvanePaths" << false;
    QTest::newRow("killed at the first replacing rename, a staged file short")
        << "rename:signal=KILL:when=3" << false << false << "Orvane" << true;
}

void TestCrashSafety::interruptedUpdateIsFinished()
{
    QFETCH(QString, injected);
    QFETCH(bool, chainKilled);
    QFETCH(bool, mayStayOld);
    QFETCH(QString, starter);
    QFETCH(bool, stagedCut);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QStringList files = names(40);
    QVERIFY(layOut(installation, files));
    QStringList wrapper;
    if (!injected.isEmpty()) {
        REQUIRE_STRACE();
        wrapper = QStringList{"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=" + injected};
    }
    BusyFile busy(installation.path() + '/' + files.first());
    if (chainKilled && !busy.held)
        QSKIP("mounting over a file needs root");
    if (!chainKilled)
        busy.release();

    const TempInstallation::Result cut =
        installation.run(QStringList{"-r"} + files, tracedEnvironment(), QString(), wrapper);
    QVERIFY(cut.finished);
    if (chainKilled) {
        QCOMPARE(cut.exitCode, 0);
        const QList<qint64> chains = chainsMentioning(installation.path());
        QVERIFY2(chains.size() == 1, qPrintable(QString("%1 chains; %2")
                                                    .arg(chains.size())
                                                    .arg(QString::fromLocal8Bit(cut.output))));
        ::kill(pid_t(chains.first()), SIGKILL);
        QVERIFY(waitWhileProcessMentions(installation.path(), 10000));
        busy.release();
    }
    QCOMPARE(damaged(installation, files), QStringList());
    const int stillOld = allNew(installation, files).size();
    QVERIFY2(stillOld > 0, "the cut came too late to leave anything to finish");
    QVERIFY(QFileInfo::exists(recordPath(installation)));
    QVERIFY(!QFileInfo::exists(installation.workDir() + "/Hultrex-received.json"));

    if (stagedCut) {
        const QStringList staged = stagedFiles(installation.path());
        QVERIFY(!staged.isEmpty());
        QVERIFY(QFile::resize(staged.first(), 10));
    }
    TempInstallation::Result next;
    if (starter == "OrvanePaths") {
        // Asked not to show its window again: it starts the installer at once.
        QVERIFY(installation.addExecutable(ORVANEPATHS_BINARY, "OrvanePaths"));
        QVERIFY(installation.writeFile("workdir/libpath", "show = 0\n"));
        QProcess paths;
        paths.setProcessEnvironment(TempInstallation::testEnvironment());
        paths.setProcessChannelMode(QProcess::MergedChannels);
        paths.start(installation.path() + "/OrvanePaths", {"--go"});
        QVERIFY(paths.waitForFinished(60000));
        next.exitCode = paths.exitCode();
        next.output = paths.readAll();
    } else {
        next = installation.run({"--go"});
    }
    QCOMPARE(next.exitCode, 0);
    const QJsonObject received = waitForRecord(installation.workDir());
    QCOMPARE(recordedArguments(received), QStringList{"--go"});
    if (!mayStayOld || stillOld < files.size())
        QCOMPARE(allNew(installation, files), QStringList());
    else
        QCOMPARE(damaged(installation, files), QStringList());
    QVERIFY2(next.output.contains(mayStayOld ? "Undid the update" : "Finished the update"),
             next.output.constData());
    QCOMPARE(stagedFiles(installation.path()), QStringList());
    QVERIFY(!QFileInfo::exists(recordPath(installation)));
    QVERIFY(!QFileInfo::exists(installation.workDir() + "/Orvane.err"));
}

// While a deferred copy is pending, no other update changes the
// installation: a second update waits for it and then runs, so that the
// version of the update that ran last stays.
void TestCrashSafety::secondUpdateWaitsForDeferredCopy()
{
    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QStringList files{"lib/app.so", "lib/other.so"};
    QVERIFY(layOut(installation, files));
    BusyFile busy(installation.path() + "/lib/app.so");
    if (!busy.held)
        QSKIP("mounting over a file needs root");
    const TempInstallation::Result first = installation.run(QStringList{"-r"} + files);
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(chainsMentioning(installation.path()).size(), 1);
    busy.release();

    QVERIFY(writeFile(installation.workDir() + "/lib/app.so_", "version 2"));
    const TempInstallation::Result second = installation.run({"-r", "lib/app.so"});
    QCOMPARE(second.exitCode, 0);
    QVERIFY2(second.output.contains("Success!"), second.output.constData());
    // It changed nothing before the copy had ended and let go of the record.
    QVERIFY2(second.output.contains("Waiting for the deferred copy"), second.output.constData());
    QCOMPARE(readFile(installation.path() + "/lib/app.so"), QByteArray("version 2"));
    QCOMPARE(readFile(installation.path() + "/lib/other.so"), newContent("lib/other.so"));
    QVERIFY(!QFileInfo::exists(recordPath(installation)));
}

// One line of strace -ttt -y: the call, the descriptor its first argument
// names (with the path strace shows for it), its string arguments and the
// descriptor it returned.
struct TracedCall
{
    double moment = 0;
    QByteArray name;
    int fd = -1;
    QByteArray fdPath;
    QList<QByteArray> strings;
    int returned = -1;
};

static QList<TracedCall> readTrace(const QString &path)
{
    static const QRegularExpression lineSyntax(R"(^(\d+\.\d+) (\w+)\((.*)\) += (-?\d+))");
    static const QRegularExpression fdSyntax(R"(^(\d+)<([^>]*)>)");
    static const QRegularExpression stringSyntax(R"re("((?:[^"\\]|\\.)*)")re");
    QList<TracedCall> calls;
    const QList<QByteArray> lines = readFile(path).split('\n');
    for (const QByteArray &line : lines) {
        const QRegularExpressionMatch match = lineSyntax.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        TracedCall call;
        call.moment = match.captured(1).toDouble();
        call.name = match.captured(2).toUtf8();
        const QString arguments = match.captured(3);
        const QRegularExpressionMatch fd = fdSyntax.match(arguments);
        if (fd.hasMatch()) {
            call.fd = fd.captured(1).toInt();
            call.fdPath = fd.captured(2).toUtf8();
        }
        QRegularExpressionMatchIterator strings = stringSyntax.globalMatch(arguments);
        while (strings.hasNext())
            call.strings.append(strings.next().captured(1).toUtf8());
        call.returned = match.captured(4).toInt();
        calls.append(call);
    }
    return calls;
}

static bool isStaged(const QByteArray &path)
{
    return Update::isStagedFileName(QFileInfo(QString::fromUtf8(path)).fileName());
}

// The moments at which a run's pass began and ended: its first new version
// opened and its last staged file renamed into place.
static bool passInterval(const QString &tracePath, double *begin, double *end)
{
    *begin = -1;
    *end = -1;
    for (const TracedCall &call : readTrace(tracePath)) {
        if (*begin < 0 && call.name == "openat" && call.returned >= 0 &&
            call.strings.value(0).endsWith(".so_"))
            *begin = call.moment;
        if (call.name.startsWith("rename") && call.returned == 0 && isStaged(call.strings.value(0)))
            *end = call.moment;
    }
    return *begin >= 0 && *end >= *begin;
}

void TestCrashSafety::concurrentRunsTakeTurns()
{
    REQUIRE_STRACE();
    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QStringList files = names(100);
    QVERIFY(layOut(installation, files));
    QTemporaryDir traces;
    QVERIFY(traces.isValid());

    QProcess runs[2];
    for (int i = 0; i < 2; ++i) {
        const QStringList wrapper =
            straceWrapper(traces.filePath(QString::number(i)), "openat,rename,renameat,renameat2");
        runs[i].setProcessEnvironment(tracedEnvironment());
        runs[i].setWorkingDirectory(installation.path());
        runs[i].setProcessChannelMode(QProcess::MergedChannels);
        runs[i].start(wrapper.first(),
                      wrapper.mid(1) + QStringList{installation.programPath(), "-r"} + files);
    }
    double begin[2];
    double end[2];
    for (int i = 0; i < 2; ++i) {
        QVERIFY(runs[i].waitForFinished(90000));
        const QByteArray output = runs[i].readAll();
        QCOMPARE(runs[i].exitStatus(), QProcess::NormalExit);
        QCOMPARE(runs[i].exitCode(), 0);
        QVERIFY2(output.contains("Success!"), output.constData());
        QVERIFY(passInterval(traces.filePath(QString::number(i)), &begin[i], &end[i]));
    }
    QVERIFY2(end[0] < begin[1] || end[1] < begin[0],
             qPrintable(QString("passes overlap: %1-%2 and %3-%4")
                            .arg(begin[0], 0, 'f', 6)
                            .arg(end[0], 0, 'f', 6)
                            .arg(begin[1], 0, 'f', 6)
                            .arg(end[1], 0, 'f', 6)));
    QCOMPARE(allNew(installation, files), QStringList());
    QCOMPARE(stagedFiles(installation.path()), QStringList());
    QVERIFY(!QFile::exists(installation.workDir() + "/Orvane.lock"));
}

// From a system-call trace of one run: every staged file is flushed before it
// takes its target's name, no target is ever unlinked, and each directory
// that received new names is flushed after the last of them. A staged file
// may begin without a name (O_TMPFILE) and get it by linkat.
void TestCrashSafety::flushedBeforeRenamedNeverUnlinked()
{
    REQUIRE_STRACE();
    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QStringList files{"lib/a.so", "lib/b.so", "plugins/sql/c.so"};
    QVERIFY(layOut(installation, {"lib/a.so", "lib/b.so"}));
    QVERIFY(writeFile(installation.workDir() + "/plugins/sql/c.so_", "new c"));
    const QString trace = installation.workDir() + "/../trace";

    const TempInstallation::Result result =
        installation.run(QStringList{"-r"} + files, tracedEnvironment(), QString(),
                         straceWrapper(trace, "openat,fsync,fdatasync,syncfs,linkat,rename,"
                                              "renameat,renameat2,unlink,unlinkat"));
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.contains("Success!"), result.output.constData());

    const QList<TracedCall> calls = readTrace(trace);
    QHash<int, bool> fdFlushed;
    QHash<int, QByteArray> fdName;
    QSet<QByteArray> flushed;
    QSet<QByteArray> written; // staged files complete under their names

    QHash<QByteArray, int> lastRenameInto; // directory -> call
    QHash<QByteArray, int> directoryFlush; // directory -> call
    int renames = 0;
    for (int i = 0; i < calls.size(); ++i) {
        const TracedCall &call = calls.at(i);
        if (call.returned < 0)
            continue;
        if (call.name == "openat") {
            fdFlushed[call.returned] = false;
            fdName[call.returned] = call.strings.value(0);
            // A file system without unnamed files: the staged file is named
            // from the start (and written before the pass flushes).
            if (isStaged(call.strings.value(0)))
                written.insert(call.strings.value(0));
        } else if (call.name == "fsync" || call.name == "fdatasync") {
            if (QFileInfo(QString::fromUtf8(call.fdPath)).isDir())
                directoryFlush[call.fdPath] = i;
            fdFlushed[call.fd] = true;
            flushed.insert(fdName.value(call.fd));
        } else if (call.name == "syncfs") {
            // The whole file system: every staged file written so far.
            flushed.unite(written);
        } else if (call.name == "linkat") {
            const QByteArray from = call.strings.value(0);
            const int fd = from.startsWith("/proc/self/fd/") ? from.mid(14).toInt() : call.fd;
            if (fdFlushed.value(fd))
                flushed.insert(call.strings.last());
            // An unnamed file gets its name once it is complete.
            written.insert(call.strings.last());
        } else if (call.name.startsWith("rename")) {
            QCOMPARE(call.strings.size(), 2);
            // The update's record, written whole beside its name.
            if (call.strings[1].endsWith("/Orvane.journal"))
                continue;
            QVERIFY2(isStaged(call.strings[0]), call.strings[0].constData());
            QVERIFY2(flushed.contains(call.strings[0]),
                     ("renamed before it was flushed: " + call.strings[0]).constData());
            lastRenameInto[QFileInfo(QString::fromUtf8(call.strings[1])).path().toUtf8()] = i;
            ++renames;
        } else if (call.name.startsWith("unlink")) {
            for (const QString &name : files)
                QVERIFY2(!call.strings.last().endsWith(name.toUtf8()),
                         ("target unlinked: " + call.strings.last()).constData());
        }
    }
    QCOMPARE(renames, files.size());
    for (auto it = lastRenameInto.begin(); it != lastRenameInto.end(); ++it)
        QVERIFY2(directoryFlush.value(it.key(), -1) > it.value(),
                 ("directory not flushed after its last new name: " + it.key()).constData());
    // The new directories are new names in their parents.
    QVERIFY(directoryFlush.contains(QFile::encodeName(installation.path() + "/plugins")));
    QVERIFY(directoryFlush.contains(QFile::encodeName(installation.path())));
}

// Failures that no deferred copy can mend are reported at once in the error
// file, and nothing is left for a deferred copy: a directory can never be
// replaced by a file (the copy would put the file inside it and restart the
// program), and a new name whose directory cannot be flushed is in place but
// may not survive a power cut, which is no success.
void TestCrashSafety::failuresReportedAtOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("directoryInPlace");
    QTest::addColumn<QString>("injected"); // strace's fault for the run; empty: none
    QTest::addColumn<QString>("report");   // APP/ and WORK/ for the directories
    QTest::addColumn<QByteArray>("installed");

    QTest::newRow("a directory in the target's place")
        << "plugins" << true << QString() << "Файл APP/plugins не может быть удален. Is a directory"
        << QByteArray();
    // The fifth flush on: the record is written twice (the file and the
    // working directory each) before the first rename.
    QTest::newRow("the directory cannot be flushed")
        << "lib/a.so" << false << "fsync:error=EIO:when=5+"
        << "Файл WORK/lib/a.so_ не может быть скопирован. Input/output error" << QByteArray("NEW");
    // Without a record that survives a power cut no target may change.
    QTest::newRow("the record cannot be flushed")
        << "lib/a.so" << false << "fsync:error=EIO"
        << "Файл WORK/lib/a.so_ не может быть скопирован. Input/output error" << QByteArray("old");
}

void TestCrashSafety::failuresReportedAtOnce()
{
    QFETCH(QString, name);
    QFETCH(bool, directoryInPlace);
    QFETCH(QString, injected);
    QFETCH(QString, report);
    QFETCH(QByteArray, installed);

    TempInstallation installation;
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(STANDIN_BINARY, "bin/xdg-open"));
    const QString target = installation.path() + '/' + name;
    if (directoryInPlace)
        QVERIFY(QDir().mkpath(target));
    else
        QVERIFY(writeFile(target, "old"));
    QVERIFY(writeFile(installation.workDir() + '/' + name + '_', "NEW"));
    QStringList wrapper;
    if (!injected.isEmpty()) {
        REQUIRE_STRACE();
        wrapper = QStringList{"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=" + injected};
    }
    // The stand-in stands in for the editor.
    QProcessEnvironment environment = tracedEnvironment();
    environment.insert("PATH", installation.path() + "/bin:" + environment.value("PATH"));

    const TempInstallation::Result result =
        installation.run({"-r", name}, environment, QString(), wrapper);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(!result.output.contains("Success!"), result.output.constData());
    // The editor is started only when no deferred copy is.
    const QJsonObject record = waitForRecord(installation.workDir(), "xdg-open");
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(QString::fromLocal8Bit(readFile(installation.workDir() + "/Orvane.err")),
             QString(report)
                 .replace("APP/", installation.path() + '/')
                 .replace("WORK/", installation.workDir() + '/'));
    if (directoryInPlace)
        QVERIFY(QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    else
        QCOMPARE(readFile(target), installed);
    QVERIFY(!QFileInfo::exists(installation.workDir() + "/Hultrex-received.json"));
    QCOMPARE(stagedFiles(installation.path()), QStringList());
}

// A file system whose flush fails costs its own files only: a new version
// on another one that was flushed takes its name at once, and only the
// other goes to the deferred copy, which replaces it after the program.
void TestCrashSafety::failedFlushCostsNoOtherFile()
{
    REQUIRE_STRACE();
    if (geteuid() != 0)
        QSKIP("mounting a tmpfs needs root");
    TempInstallation installation;
    QVERIFY(installation.isValid());
    const QString mounted = installation.path() + "/mounted";
    QVERIFY(QDir().mkpath(mounted));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", mounted}) != 0)
        QSKIP("a tmpfs cannot be mounted here");
    const auto unmount = qScopeGuard([&mounted] { QProcess::execute("umount", {mounted}); });
    const QStringList files{"a.so", "mounted/b.so"};
    for (const QString &name : files) {
        QVERIFY(writeFile(installation.path() + '/' + name, "old"));
        QVERIFY(writeFile(installation.workDir() + '/' + name + '_', "NEW"));
    }
    // The first flush of a file system, that of a.so's, fails.
    const QStringList wrapper{"strace",       "-f",        "-qq",
                              "-o",           "/dev/null", "-e",
                              "trace=syncfs", "-e",        "inject=syncfs:error=EIO:when=1"};

    const TempInstallation::Result result =
        installation.run(QStringList{"-r"} + files, tracedEnvironment(), QString(), wrapper);
    QCOMPARE(result.exitCode, 0);
    const QString failed =
        "Файл " + installation.workDir() + "/a.so_ не может быть скопирован. Input/output error";
    QVERIFY2(result.output.contains(failed.toUtf8()), result.output.constData());
    QVERIFY2(!result.output.contains("b.so_"), result.output.constData());
    QCOMPARE(readFile(mounted + "/b.so"), QByteArray("NEW"));
    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(readFile(installation.path() + "/a.so"), QByteArray("NEW"));
    QCOMPARE(stagedFiles(installation.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
