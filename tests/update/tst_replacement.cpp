// The replacement pass of the self-update mode, on real files in a temporary
// installation directory ("app") and working directory ("work").

#include "testsupport.h"
#include "update/replacement.h"
#include "update/updaterecord.h"

#include <QtTest>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

// relative path -> content; "dir/" for a directory, "name|" for a FIFO
using Tree = QMap<QString, QByteArray>;
using Update::CopyList;
Q_DECLARE_METATYPE(Tree)

static const int shortWaitMs = 50;

static bool writeTree(const QString &root, const Tree &tree)
{
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString path = root + '/' + it.key();
        if (it.key().endsWith('/')) {
            if (!QDir().mkpath(path))
                return false;
            continue;
        }
        if (it.key().endsWith('|')) {
            if (::mkfifo(QFile::encodeName(path.chopped(1)).constData(), 0644) != 0)
                return false;
            continue;
        }
        if (!writeFile(path, it.value()))
            return false;
    }
    return true;
}

// Everything below root, hidden files included: a staged file left behind
// shows up here.
static Tree readTree(const QString &root)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (!it.fileInfo().isFile() && !it.fileInfo().isDir()) {
            tree.insert(relative + '|', QByteArray());
            continue;
        }
        if (it.fileInfo().isDir()) {
            if (QDir(path).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                   QDir::NoDotAndDotDot))
                tree.insert(relative + '/', QByteArray());
            continue;
        }
        tree.insert(relative, readFile(path));
    }
    return tree;
}

class TestReplacement : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pass_data();
    void pass();
    void permissions_data();
    void permissions();
    void busyTargetIsRetried_data();
    void busyTargetIsRetried();
    void busyTargetGivesUpAfterFiveAttempts();
    void refusalIsNotRetried();
    void lock_data();
    void lock();

private:
    QString expand(QString text) const
    {
        return text.replace("APP/", m_app + '/').replace("WORK/", m_work + '/');
    }

    QTemporaryDir m_root;
    QString m_app;
    QString m_work;
};

void TestReplacement::init()
{
    QVERIFY(m_root.isValid());
    static int run = 0;
    const QString base = m_root.path() + '/' + QString::number(++run);
    m_app = base + "/app";
    m_work = base + "/work";
    QVERIFY(QDir().mkpath(m_app));
    QVERIFY(QDir().mkpath(m_work));
}

void TestReplacement::pass_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<Tree>("app");
    QTest::addColumn<Tree>("work");
    QTest::addColumn<Tree>("appAfter");
    // Messages with APP/ and WORK/ for the directories; one that ends in a
    // blank is followed by the system's error text.
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<CopyList>("pending"); // (target, source)

    QTest::newRow("no names") << QStringList() << Tree{{"a.dll", "old"}} << Tree{{"a.dll_", "new"}}
                              << Tree{{"a.dll", "old"}} << QStringList() << CopyList();

    QTest::newRow("missing source: target untouched, nothing pending")
        << QStringList{"a.dll"} << Tree{{"a.dll", "old"}} << Tree() << Tree{{"a.dll", "old"}}
        << QStringList{"Файл WORK/a.dll_ не существует."} << CopyList();

    QTest::newRow("target present is replaced")
        << QStringList{"a.dll"} << Tree{{"a.dll", "old"}, {"b.dll", "other"}}
        << Tree{{"a.dll_", "new"}} << Tree{{"a.dll", "new"}, {"b.dll", "other"}} << QStringList()
        << CopyList();

    QTest::newRow("target absent, missing directories are created")
        << QStringList{"plugins/sql/x.dll"} << Tree() << Tree{{"plugins/sql/x.dll_", "new"}}
        << Tree{{"plugins/sql/x.dll", "new"}} << QStringList() << CopyList();

    QTest::newRow("empty new version")
        << QStringList{"a.dll"} << Tree{{"a.dll", "old"}} << Tree{{"a.dll_", ""}}
        << Tree{{"a.dll", ""}} << QStringList() << CopyList();

    QTest::newRow("name given twice")
        << QStringList{"a.dll", "a.dll"} << Tree{{"a.dll", "old"}} << Tree{{"a.dll_", "new"}}
        << Tree{{"a.dll", "new"}} << QStringList() << CopyList();

    // No file can ever take a directory's name: nothing is left pending.
    QTest::newRow("a directory stands in the target's place")
        << QStringList{"a.dll"} << Tree{{"a.dll/keep", "kept"}} << Tree{{"a.dll_", "new"}}
        << Tree{{"a.dll/keep", "kept"}}
        << QStringList{"Файл APP/a.dll не может быть удален. Is a directory"} << CopyList();

    QTest::newRow("an empty directory stands in the target's place")
        << QStringList{"a.dll"} << Tree{{"a.dll/", ""}} << Tree{{"a.dll_", "new"}}
        << Tree{{"a.dll/", ""}}
        << QStringList{"Файл APP/a.dll не может быть удален. Is a directory"} << CopyList();

    // CHAIN stands for the process id of a deferred copy that still runs.
    QTest::newRow("staged files of a killed run are removed, look-alikes stay")
        << QStringList{"lib/a.so"}
        << Tree{{"lib/a.so", "old"},
                {"lib/.a.so.orvane-new-Ab3dE9", "half a"},
                {"lib/.b.so.orvane-new-x0Y1z2", "half b"},
                {"lib/.c.so.orvane-new-", "user's"},
                {"lib/c.so.orvane-new-abcdef", "user's"},
                {"lib/.Orvane-deferred-Xy12ab", "an earlier version's killed copy"},
                {"lib/.Orvane-deferred-4194305-Xy12ab", "a killed copy"},
                {"lib/.Orvane-deferred-CHAIN-Xy12ab", "a running copy's"},
                {"lib/.Orvane-deferred-12x-Xy12ab", "user's"}}
        << Tree{{"lib/a.so_", "new"}}
        << Tree{{"lib/a.so", "new"},
                {"lib/.c.so.orvane-new-", "user's"},
                {"lib/c.so.orvane-new-abcdef", "user's"},
                {"lib/.Orvane-deferred-CHAIN-Xy12ab", "a running copy's"},
                {"lib/.Orvane-deferred-12x-Xy12ab", "user's"}}
        << QStringList() << CopyList();

    // Old versions that a run set aside for new ones (Windows does so for
    // running programs): one whose name is free, left by a run killed between
    // the two renames, gets it back; the others go.
    QTest::newRow("old versions set aside: a free name is given back, the others removed")
        << QStringList{"lib/a.so"}
        << Tree{{"lib/a.so", "old"},
                {"lib/.a.so.orvane-old-Ab3dE9", "older a"},
                {"lib/.b.so.orvane-old-x0Y1z2", "old b"},
                {"lib/.c.so.orvane-old-", "user's"}}
        << Tree{{"lib/a.so_", "new"}}
        << Tree{{"lib/a.so", "new"}, {"lib/b.so", "old b"}, {"lib/.c.so.orvane-old-", "user's"}}
        << QStringList() << CopyList();

    // No later copy can make a file of a directory either.
    QTest::newRow("a directory as the new version: the installed file stays, nothing pending")
        << QStringList{"a.dll"} << Tree{{"a.dll", "old"}} << Tree{{"a.dll_/", ""}}
        << Tree{{"a.dll", "old"}}
        << QStringList{"Файл WORK/a.dll_ не может быть скопирован. Is a directory"} << CopyList();

    QTest::newRow("a regular file where a directory is needed")
        << QStringList{"plugins/x.dll"} << Tree{{"plugins", "a file"}}
        << Tree{{"plugins/x.dll_", "new"}} << Tree{{"plugins", "a file"}}
        << QStringList{"Файл WORK/plugins/x.dll_ не может быть скопирован. "}
        << CopyList{{"APP/plugins/x.dll", "WORK/plugins/x.dll_"}};

    // Only "/" separates directories: no directory is created, and here the
    // backslash is part of the file name.
    QTest::newRow("backslash-separated name")
        << QStringList{"plugins\\x.dll"} << Tree() << Tree{{"plugins\\x.dll_", "new"}}
        << Tree{{"plugins\\x.dll", "new"}} << QStringList() << CopyList();

    QTest::newRow("a name too long for the staged file's usual form")
        << QStringList{QString(250, 'L')} << Tree{{QString(250, 'L'), "old"}}
        << Tree{{QString(250, 'L') + '_', "new"}} << Tree{{QString(250, 'L'), "new"}}
        << QStringList() << CopyList();

    QTest::newRow("a name ending in a separator can only be a directory's")
        << QStringList{"sub/"} << Tree() << Tree{{"sub/_", "new"}} << Tree()
        << QStringList{"Файл APP/sub/ не может быть удален. Is a directory"} << CopyList();

    // Opening a FIFO would wait forever.
    QTest::newRow("a new version that is not a file")
        << QStringList{"a.dll", "b.dll"} << Tree{{"a.dll", "old"}}
        << Tree{{"a.dll_|", ""}, {"b.dll_", "new"}} << Tree{{"a.dll", "old"}, {"b.dll", "new"}}
        << QStringList{"Файл WORK/a.dll_ не может быть скопирован. Not a regular file"}
        << CopyList();

    QTest::newRow("names with blanks and non-ASCII letters")
        << QStringList{"папка с пробелом/файл 1.dll"} << Tree()
        << Tree{{"папка с пробелом/файл 1.dll_", "new"}}
        << Tree{{"папка с пробелом/файл 1.dll", "new"}} << QStringList() << CopyList();

    QTest::newRow("failures keep their order; the others are replaced")
        << QStringList{"b.dll", "missing.dll", "a.dll", "c.dll", "d/e.dll", "g/f.dll"}
        << Tree{{"a.dll", "old a"}, {"b.dll/keep", "kept"}, {"c.dll", "old"}, {"g", "a file"}}
        << Tree{{"a.dll_/", ""},
                {"b.dll_", "new b"},
                {"c.dll_", "new c"},
                {"d/e.dll_", "new e"},
                {"g/f.dll_", "new f"}}
        << Tree{{"a.dll", "old a"},
                {"b.dll/keep", "kept"},
                {"c.dll", "new c"},
                {"d/e.dll", "new e"},
                {"g", "a file"}}
        << QStringList{"Файл APP/b.dll не может быть удален. Is a directory",
                       "Файл WORK/missing.dll_ не существует.",
                       "Файл WORK/a.dll_ не может быть скопирован. Is a directory",
                       "Файл WORK/g/f.dll_ не может быть скопирован. "}
        << CopyList{{"APP/g/f.dll", "WORK/g/f.dll_"}};
}

void TestReplacement::pass()
{
    QFETCH(QStringList, names);
    QFETCH(Tree, app);
    QFETCH(Tree, work);
    QFETCH(Tree, appAfter);
    QFETCH(QStringList, errors);
    QFETCH(CopyList, pending);

    // A deferred copy that still runs, as the shell of the Linux chain names
    // itself.
    QProcess chain;
    chain.start("/bin/sh", {"-c", "sleep 60; :", Update::deferredCopyMark});
    QVERIFY(chain.waitForStarted());
    const auto stopChain = qScopeGuard([&chain] {
        chain.kill();
        chain.waitForFinished();
    });
    const auto withChain = [&chain](const Tree &tree) {
        Tree result;
        for (auto it = tree.begin(); it != tree.end(); ++it)
            result.insert(QString(it.key()).replace("CHAIN", QString::number(chain.processId())),
                          it.value());
        return result;
    };
    app = withChain(app);
    appAfter = withChain(appAfter);
    QVERIFY(writeTree(m_app, app));
    QVERIFY(writeTree(m_work, work));

    const Update::PassResult result = Update::replaceFiles(names, m_app, m_work, shortWaitMs);

    QCOMPARE(result.errors.size(), errors.size());
    for (int i = 0; i < errors.size(); ++i) {
        const QString expected = expand(errors.at(i));
        if (expected.endsWith(' ')) {
            QVERIFY2(result.errors.at(i).startsWith(expected) &&
                         result.errors.at(i).size() > expected.size(),
                     qPrintable(result.errors.at(i)));
        } else {
            QCOMPARE(result.errors.at(i), expected);
        }
    }
    CopyList expectedPending;
    for (const auto &pair : pending)
        expectedPending.append({expand(pair.first), expand(pair.second)});
    QCOMPARE(result.pending, expectedPending);
    // What the update mode does with the outcome: the lock and the record go.
    if (result.lock)
        result.lock->unlock();
    QString reason;
    QVERIFY2(Update::removeRecord(m_work, &reason), qPrintable(reason));
    // Nothing else changed, no staged file is left, the sources stay.
    QCOMPARE(readTree(m_app), appAfter);
    QCOMPARE(readTree(m_work), work);
}

void TestReplacement::permissions_data()
{
    QTest::addColumn<int>("sourceMode");
    QTest::addColumn<int>("expectedMode");

    // Owner read, write and execute are added; what others may do is kept.
    QTest::newRow("library readable by all") << 0644 << 0744;
    QTest::newRow("executable") << 0755 << 0755;
    QTest::newRow("owner only") << 0600 << 0700;
    QTest::newRow("read-only") << 0444 << 0744;
}

static int unixMode(QFileDevice::Permissions permissions)
{
    int mode = 0;
    const QFileDevice::Permission bits[] = {
        QFileDevice::ReadOwner, QFileDevice::WriteOwner, QFileDevice::ExeOwner,
        QFileDevice::ReadGroup, QFileDevice::WriteGroup, QFileDevice::ExeGroup,
        QFileDevice::ReadOther, QFileDevice::WriteOther, QFileDevice::ExeOther};
    for (const QFileDevice::Permission bit : bits)
        mode = (mode << 1) | (permissions & bit ? 1 : 0);
    return mode;
}

void TestReplacement::permissions()
{
    QFETCH(int, sourceMode);
    QFETCH(int, expectedMode);

    QVERIFY(writeTree(m_app, {{"a.so", "old"}}));
    QVERIFY(writeTree(m_work, {{"a.so_", "new"}, {"b.so_", "new"}}));
    for (const QString name : {"a.so_", "b.so_"}) {
        QVERIFY(::chmod(QFile::encodeName(m_work + '/' + name).constData(),
                        static_cast<mode_t>(sourceMode)) == 0);
    }

    const Update::PassResult result =
        Update::replaceFiles({"a.so", "b.so"}, m_app, m_work, shortWaitMs);
    QCOMPARE(result.errors, QStringList());
    for (const QString name : {"a.so", "b.so"})
        QCOMPARE(QString::number(unixMode(QFile::permissions(m_app + '/' + name)), 8),
                 QString::number(expectedMode, 8));
}

// Lays out a.dll with its new version and mounts a file over a.dll, which is
// then busy (EBUSY) until it is unmounted: the structural stand-in for a file
// in use. Returns the target, or an empty text when that cannot be done here.
static QString busyTarget(const QString &app, const QString &work)
{
    QString target = app + "/a.dll";
    if (geteuid() != 0 || !writeTree(app, {{"a.dll", "old"}}) ||
        !writeTree(work, {{"a.dll_", "new"}}) ||
        QProcess::execute("mount", {"--bind", target, target}) != 0)
        return QString();
    return target;
}

static void unmount(const QString &path)
{
    QProcess::execute("umount", {path});
}

// The wait between attempts runs the event loop, so the blocker can go away
// in the meantime; the next attempt then succeeds.
void TestReplacement::busyTargetIsRetried_data()
{
    QTest::addColumn<bool>("leavesFile");
    QTest::newRow("released") << true;
    QTest::newRow("released and gone") << false;
}

void TestReplacement::busyTargetIsRetried()
{
    QFETCH(bool, leavesFile);
    const QString target = busyTarget(m_app, m_work);
    if (target.isEmpty())
        QSKIP("mounting over a file needs root");
    const int waitMs = 200;
    QTimer::singleShot(waitMs + waitMs / 2, this, [target, leavesFile] {
        unmount(target);
        if (!leavesFile)
            QFile::remove(target);
    });

    const Update::PassResult result = Update::replaceFiles({"a.dll"}, m_app, m_work, waitMs);
    unmount(target); // in case the timer never ran
    QCOMPARE(result.errors, QStringList());
    QCOMPARE(result.pending, CopyList());
    QCOMPARE(readTree(m_app), Tree({{"a.dll", "new"}}));
}

void TestReplacement::busyTargetGivesUpAfterFiveAttempts()
{
    const QString target = busyTarget(m_app, m_work);
    if (target.isEmpty())
        QSKIP("mounting over a file needs root");
    const int waitMs = 100;
    QElapsedTimer timer;
    timer.start();

    const Update::PassResult result = Update::replaceFiles({"a.dll"}, m_app, m_work, waitMs);
    const qint64 elapsed = timer.elapsed();
    unmount(target);
    QCOMPARE(result.errors,
             QStringList{"Файл " + target + " не может быть удален. " + "Device or resource busy"});
    QCOMPARE(result.pending, CopyList({{target, m_work + "/a.dll_"}}));
    QCOMPARE(readTree(m_app), Tree({{"a.dll", "old"}}));
    // A wait after each of the five attempts, and not the product's long waits.
    QVERIFY2(elapsed >= qint64(Update::removalAttempts) * waitMs,
             qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < qint64(2) * Update::removalWaitMs, qPrintable(QString::number(elapsed)));
}

// A sticky directory (like /tmp) lets anybody add names but not replace
// another user's file: a refusal that waiting cannot change, so it is not
// tried again (the wait between attempts would run the event loop), yet it is
// left to the deferred copy, which may run with other rights.
void TestReplacement::refusalIsNotRetried()
{
    SKIP_UNLESS_CAN_DROP_PRIVILEGES();
    QVERIFY(writeTree(m_app, {{"tmp/a.so", "old"}}));
    QVERIFY(writeTree(m_work, {{"tmp/a.so_", "new"}}));
    QVERIFY(QFile::setPermissions(m_app + "/tmp", QFileDevice::Permissions(0x7777)));
    QVERIFY(::chmod(QFile::encodeName(m_app + "/tmp").constData(), 01777) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_work).constData(), 0777) == 0);
    for (const QString &dir : {m_root.path(), QFileInfo(m_app).path()})
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
    bool waited = false;
    QTimer::singleShot(0, this, [&waited] { waited = true; });

    Update::PassResult result;
    {
        const AsUnprivileged unprivileged;
        QVERIFY(unprivileged.isActive());
        result = Update::replaceFiles({"tmp/a.so"}, m_app, m_work, Update::removalWaitMs);
    }

    QVERIFY(!waited);
    QCOMPARE(result.errors, QStringList{"Файл " + m_app + "/tmp/a.so не может быть удален. " +
                                        "Operation not permitted"});
    QCOMPARE(result.pending, CopyList({{m_app + "/tmp/a.so", m_work + "/tmp/a.so_"}}));
    QCOMPARE(readTree(m_app), Tree({{"tmp/a.so", "old"}}));
}

// One pass at a time: a lock of a living process makes the pass wait and then
// give up; one that nobody owns any more is taken over.
void TestReplacement::lock_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<QString>("reason"); // why no lock can be made; empty: one is taken

    QTest::newRow("held by a running pass") << "alive" << false << "";
    QTest::newRow("left by a process that died") << "dead" << true << "";
    QTest::newRow("left empty by a run killed while taking it") << "empty" << true << "";
    // Nor a record: without one, no target may change.
    QTest::newRow("cannot be created") << "none" << false << "Permission denied";
    // No lock file at all: waiting would not change it, reading it would hang.
    QTest::newRow("a directory in its place") << "directory" << true << "Is a directory";
    QTest::newRow("a FIFO in its place") << "fifo" << true << "Not a regular file";
}

void TestReplacement::lock()
{
    QFETCH(QString, owner);
    QFETCH(bool, replaced);
    QFETCH(QString, reason);
    const QString leftover = m_app + "/.a.dll.orvane-new-Ab3dE9";
    QVERIFY(writeTree(m_app, {{"a.dll", "old"}, {".a.dll.orvane-new-Ab3dE9", "another run's"}}));
    QVERIFY(writeTree(m_work, {{"a.dll_", "new"}}));
    const QString lockPath = m_work + "/Orvane.lock";
    QLockFile held(lockPath);
    std::optional<AsUnprivileged> unprivileged;
    if (owner == "none") {
        // The unprivileged user may replace the file but not write the lock.
        SKIP_UNLESS_CAN_DROP_PRIVILEGES();
        QVERIFY(::chmod(QFile::encodeName(m_app).constData(), 0777) == 0);
        for (const QString &dir : {m_root.path(), QFileInfo(m_app).path()})
            QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        unprivileged.emplace();
        QVERIFY(unprivileged->isActive());
    } else if (owner == "directory") {
        QVERIFY(QDir().mkpath(lockPath));
    } else if (owner == "fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(lockPath).constData(), 0644) == 0);
    } else if (owner == "alive") {
        QVERIFY(held.tryLock(0));
    } else if (owner == "dead") {
        QProcess process;
        process.start("true", QStringList());
        QVERIFY(process.waitForStarted());
        const qint64 deadPid = process.processId();
        QVERIFY(process.waitForFinished());
        // A real lock, with its owner's process id replaced by the dead one's.
        QVERIFY(held.tryLock(0));
        QList<QByteArray> lines = readFile(lockPath).split('\n');
        held.unlock();
        lines[0] = QByteArray::number(deadPid);
        QVERIFY(writeFile(lockPath, lines.join('\n')));
    } else {
        QVERIFY(writeFile(lockPath, QByteArray()));
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                 QFileDevice::FileModificationTime));
    }

    const Update::PassResult result =
        Update::replaceFiles({"a.dll"}, m_app, m_work, shortWaitMs, 600);
    unprivileged.reset();
    if (result.lock)
        result.lock->unlock();
    const QString notRecorded =
        "Файл " + m_work + "/a.dll_ не может быть скопирован. Permission denied";
    QCOMPARE(result.errors, replaced          ? QStringList()
                            : owner == "none" ? QStringList{notRecorded}
                                              : QStringList{"Другое обновление уже выполняется в " +
                                                            m_work + "."});
    QCOMPARE(result.pending, CopyList());
    QCOMPARE(result.diagnostics, reason.isEmpty() ? QStringList()
                                                  : QStringList{"Error. Can't create lock file " +
                                                                lockPath + ": " + reason});
    QCOMPARE(readFile(m_app + "/a.dll"), QByteArray(replaced ? "new" : "old"));
    // A lock taken is let go; what is no lock stays as it was.
    QCOMPARE(QFileInfo::exists(lockPath),
             owner == "alive" || owner == "directory" || owner == "fifo");
    // Only the holder of the lock removes staged files: no other run can be
    // writing them then.
    QCOMPARE(QFile::exists(leftover), !replaced || !reason.isEmpty());
}

QTEST_GUILESS_MAIN(TestReplacement)
#include "tst_replacement.moc"
