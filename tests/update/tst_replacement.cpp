// The replacement pass of the self-update mode, on real files in a temporary
// installation directory ("app") and working directory ("work").

#include "testsupport.h"
#include "update/errorreport.h"
#include "update/replacement.h"
#include "update/updaterecord.h"

#include <QtTest>

#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// relative path -> content; "dir/" for a directory, "name|" for a FIFO
using Tree = QMap<QString, QByteArray>;
using Update::CopyList;
Q_DECLARE_METATYPE(Tree)
Q_DECLARE_METATYPE(Update::FileCopy)

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
    void anotherMachinesDeferredCopySurvives();

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
    QTest::addColumn<CopyList>("pending");

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

    // CHAIN stands for the process id of a deferred copy that still runs. A
    // staged or temporary file whose lock is held is in use; an empty
    // temporary file may be one a chain has just made and not yet locked.
    QTest::newRow("staged files of a killed run are removed")
        << QStringList{"lib/a.so"}
        << Tree{{"lib/a.so", "old"},
                {"lib/.a.so.orvane-new-Ab3dE9", "half a"},
                {"lib/.b.so.orvane-new-x0Y1z2", "half b"},
                {"lib/.d.so.orvane-new-L0cked", "held: another machine's pass is writing it"},
                {"lib/.e.so.orvane-new-e0Y1z2", ""},
                {"lib/.Orvane-deferred-Xy12ab", "an earlier version's killed copy"},
                {"lib/.Orvane-deferred-4194305-Xy12ab", "a killed copy"},
                {"lib/.Orvane-deferred-CHAIN-Xy12ab", "a running copy's"},
                {"lib/.Orvane-deferred-4194305-0123456789ab-1", "a killed Windows copy"},
                {"lib/.Orvane-deferred-4194305-Zz12ab", ""},
                {"lib/.Orvane-deferred-12-0123456789xy-1", "user's"},
                {"lib/.Orvane-deferred-12x-Xy12ab", "user's"}}
        << Tree{{"lib/a.so_", "new"}}
        << Tree{{"lib/a.so", "new"},
                {"lib/.d.so.orvane-new-L0cked", "held: another machine's pass is writing it"},
                {"lib/.Orvane-deferred-CHAIN-Xy12ab", "a running copy's"},
                {"lib/.Orvane-deferred-4194305-Zz12ab", ""},
                {"lib/.Orvane-deferred-12-0123456789xy-1", "user's"},
                {"lib/.Orvane-deferred-12x-Xy12ab", "user's"}}
        << QStringList() << CopyList();

    // Old versions that a run set aside for new ones (Windows does so for
    // running programs): one whose name is free, left by a run killed between
    // the two renames, gets it back; the others go.
    QTest::newRow("old versions set aside: a free name is given back, the others removed")
        << QStringList{"lib/a.so"}
        << Tree{{"lib/a.so", "old"},
                {"lib/.a.so.orvane-old-Ab3dE9", "older a"},
                {"lib/.b.so.orvane-old-x0Y1z2", "old b"}}
        << Tree{{"lib/a.so_", "new"}} << Tree{{"lib/a.so", "new"}, {"lib/b.so", "old b"}}
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
    // A file whose content begins with "held" is locked meanwhile, as a run
    // that writes it does.
    std::vector<int> locks;
    const auto unlock = qScopeGuard([&locks] {
        for (const int descriptor : locks)
            ::close(descriptor);
    });
    for (auto it = app.begin(); it != app.end(); ++it) {
        if (!it.value().startsWith("held"))
            continue;
        locks.push_back(::open(QFile::encodeName(m_app + '/' + it.key()).constData(), O_RDONLY));
        QVERIFY(locks.back() >= 0 && ::flock(locks.back(), LOCK_EX) == 0);
    }

    const Update::PassResult result = Update::replaceFiles(names, m_app, m_work, shortWaitMs);

    const QStringList messages = Update::errorMessages(result.errors);
    QCOMPARE(messages.size(), errors.size());
    for (int i = 0; i < errors.size(); ++i) {
        const QString expected = expand(errors.at(i));
        if (expected.endsWith(' ')) {
            QVERIFY2(messages.at(i).startsWith(expected) && messages.at(i).size() > expected.size(),
                     qPrintable(messages.at(i)));
        } else {
            QCOMPARE(messages.at(i), expected);
        }
    }
    CopyList expectedPending;
    for (const Update::FileCopy &copy : pending)
        expectedPending.append({expand(copy.target), expand(copy.source)});
    QCOMPARE(result.pending, expectedPending);
    // What the update mode does with the outcome: the lock and the record go.
    if (result.lock)
        result.lock->unlock();
    const Platform::Failure notRemoved = Update::removeRecord(m_work);
    QVERIFY2(!notRemoved, qPrintable(notRemoved ? notRemoved->text : QString()));
    // Nothing else changed, no staged file is left, the sources stay.
    QCOMPARE(readTree(m_app), appAfter);
    QCOMPARE(readTree(m_work), work);
}

void TestReplacement::permissions_data()
{
    QTest::addColumn<int>("umaskValue");
    QTest::addColumn<int>("directoryMode"); // of the installation and the working directory
    QTest::addColumn<int>("sourceMode");    // of both new versions
    QTest::addColumn<int>("oldMode");       // of the file a.so replaces
    QTest::addColumn<int>("replacedMode");  // a.so afterwards
    QTest::addColumn<int>("newMode");       // sub/b.so, a new file in a created directory
    QTest::addColumn<int>("createdMode");   // sub/
    QTest::addColumn<int>("errorFileMode"); // Orvane.err, written anew

    // A replaced file keeps what its old version allowed, a new one takes the
    // new version's; the owner may read, write and run either.
    QTest::newRow("library readable by all")
        << 022 << 0755 << 0644 << 0644 << 0744 << 0744 << 0755 << 0644;
    QTest::newRow("executable") << 022 << 0755 << 0755 << 0755 << 0755 << 0755 << 0755 << 0644;
    QTest::newRow("owner only") << 022 << 0755 << 0600 << 0600 << 0700 << 0700 << 0755 << 0644;
    QTest::newRow("read-only") << 022 << 0755 << 0444 << 0444 << 0744 << 0744 << 0755 << 0644;
    QTest::newRow("a new version does not widen the old one's")
        << 022 << 0755 << 0775 << 0644 << 0744 << 0755 << 0755 << 0644;
    // Whatever the umask and the download's mode: nobody else may write what
    // the update writes, the group only where its directory lets it.
    QTest::newRow("umask 000, a download writable by all")
        << 000 << 0755 << 0666 << 0755 << 0755 << 0744 << 0755 << 0644;
    QTest::newRow("umask 000, a group's shared directory")
        << 000 << 02775 << 0666 << 0664 << 0764 << 0764 << 02775 << 0664;
    QTest::newRow("umask 000, an old file writable by all")
        << 000 << 0755 << 0644 << 0666 << 0764 << 0744 << 0755 << 0644;
    QTest::newRow("umask 022") << 022 << 02775 << 0755 << 0755 << 0755 << 0755 << 02775 << 0644;
    QTest::newRow("umask 077") << 077 << 0755 << 0755 << 0644 << 0744 << 0755 << 0755 << 0600;
}

static int modeOf(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                     : -1;
}

static void setMode(const QString &path, int mode)
{
    QVERIFY(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) == 0);
}

void TestReplacement::permissions()
{
    QFETCH(int, umaskValue);
    QFETCH(int, directoryMode);
    QFETCH(int, sourceMode);
    QFETCH(int, oldMode);
    QFETCH(int, replacedMode);
    QFETCH(int, newMode);
    QFETCH(int, createdMode);
    QFETCH(int, errorFileMode);

    QVERIFY(writeTree(m_app, {{"a.so", "old"}}));
    QVERIFY(writeTree(m_work, {{"a.so_", "new"}, {"sub/b.so_", "new"}}));
    setMode(m_app + "/a.so", oldMode);
    for (const QString name : {"a.so_", "sub/b.so_"})
        setMode(m_work + '/' + name, sourceMode);
    for (const QString &dir : {m_app, m_work})
        setMode(dir, directoryMode);
    const mode_t umaskBefore = ::umask(static_cast<mode_t>(umaskValue));
    const auto restoreUmask = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });

    const Update::PassResult result =
        Update::replaceFiles({"a.so", "sub/b.so"}, m_app, m_work, shortWaitMs);
    QCOMPARE(Update::errorMessages(result.errors), QStringList());
    QCOMPARE(Update::writeErrorFile(m_work + "/Orvane.err", {"a message"}), Installation::Ok);

    const auto octal = [](int mode) { return QString::number(mode, 8); };
    QCOMPARE(octal(modeOf(m_app + "/a.so")), octal(replacedMode));
    QCOMPARE(octal(modeOf(m_app + "/sub/b.so")), octal(newMode));
    QCOMPARE(octal(modeOf(m_app + "/sub")), octal(createdMode));
    QCOMPARE(octal(modeOf(m_work + "/Orvane.err")), octal(errorFileMode));
}

// Whether some process holds the lock of the file at path.
static bool lockHeld(const QString &path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool held = descriptor >= 0 && ::flock(descriptor, LOCK_SH | LOCK_NB) != 0;
    if (descriptor >= 0)
        ::close(descriptor);
    return held;
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
    // Meanwhile the staged file is locked: no run of another machine takes
    // it for a killed run's leftover.
    bool stagedLocked = false;
    QTimer::singleShot(waitMs + waitMs / 2, this, [this, target, leavesFile, &stagedLocked] {
        const QStringList staged =
            QDir(m_app).entryList({".a.dll.orvane-new-*"}, QDir::Files | QDir::Hidden);
        stagedLocked = staged.size() == 1 && lockHeld(m_app + '/' + staged.first());
        unmount(target);
        if (!leavesFile)
            QFile::remove(target);
    });

    const Update::PassResult result = Update::replaceFiles({"a.dll"}, m_app, m_work, waitMs);
    unmount(target); // in case the timer never ran
    QCOMPARE(Update::errorMessages(result.errors), QStringList());
    QCOMPARE(result.pending, CopyList());
    QCOMPARE(readTree(m_app), Tree({{"a.dll", "new"}}));
    QVERIFY(stagedLocked);
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
    QCOMPARE(Update::errorMessages(result.errors),
             QStringList{"Файл " + target + " не может быть удален. " + "Device or resource busy"});
    QCOMPARE(result.pending, CopyList({{target, m_work + "/a.dll_"}}));
    QCOMPARE(readTree(m_app), Tree({{"a.dll", "old"}}));
    // A wait after each of the five attempts, and not the product's long waits.
    QVERIFY2(elapsed >= qint64(Update::renameAttempts) * waitMs,
             qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < qint64(2) * Update::renameWaitMs, qPrintable(QString::number(elapsed)));
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
        result = Update::replaceFiles({"tmp/a.so"}, m_app, m_work, Update::renameWaitMs);
    }

    QVERIFY(!waited);
    QCOMPARE(Update::errorMessages(result.errors),
             QStringList{"Файл " + m_app + "/tmp/a.so не может быть удален. " +
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
    // Nor a record: without one, no target may change.
    QTest::newRow("cannot be created") << "none" << false << "Permission denied";
    // No lock file at all: waiting would not change it, reading it would hang.
    QTest::newRow("a directory in its place") << "directory" << true << "Is a directory";
    // A file share: the lock another machine holds, whose process ids mean
    // nothing here, and one whose machine went down, whose system lock its
    // file server has let go of.
    QTest::newRow("held by another machine's pass") << "other machine" << false << "";
    QTest::newRow("left by another machine that went down") << "machine down" << true << "";
    // Its 0644 lock cannot be opened for writing, but the shared directory
    // lets the next user remove it.
    QTest::newRow("left by another user's killed run in a shared directory")
        << "other user" << true << "";
}

// Starts the stand-in holding a lock file as Orvane does, through wrapper;
// returns its process id as it sees it, or 0.
static qint64 holdLock(const QString &lockPath, QProcess &holder, const QStringList &wrapper = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("STANDIN_HOLD_LOCK", lockPath);
    holder.setProcessEnvironment(environment);
    const QStringList command = wrapper + QStringList{STANDIN_BINARY};
    holder.start(command.first(), command.mid(1));
    QByteArray output;
    while (!output.contains('\n') && holder.waitForReadyRead(10000))
        output += holder.readAllStandardOutput();
    return output.startsWith("locked ") ? output.mid(7).trimmed().toLongLong() : 0;
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
    std::optional<OtherMachine> machine;
    QProcess holder;
    QString holderHost = QSysInfo::machineHostName();
    qint64 holderPid = QCoreApplication::applicationPid();
    if (owner == "other machine" || owner == "machine down") {
        SKIP_UNLESS_OTHER_MACHINE();
        machine.emplace();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("STANDIN_HOLD_LOCK", lockPath);
        QVERIFY(machine->start({STANDIN_BINARY}, environment));
        QVERIFY(machine->waitForOutput("locked"));
        holderHost = machine->hostName();
        holderPid = readFile(lockPath).split('\n').value(0).toLongLong();
        if (owner == "machine down")
            QVERIFY(machine->end());
    } else if (owner == "other user") {
        // User 1001 of the directory's group, with the usual umask, killed
        // while it held the lock; the pass runs as another user of the group.
        SKIP_UNLESS_CAN_DROP_PRIVILEGES();
        QVERIFY(::chmod(QFile::encodeName(m_app).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_work).constData(), 02775) == 0);
        for (const QString &dir : {m_root.path(), QFileInfo(m_app).path()})
            QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        const mode_t umaskBefore = ::umask(022);
        const qint64 pid =
            holdLock(lockPath, holder, {"setpriv", "--reuid=1001", "--regid=0", "--clear-groups"});
        ::umask(umaskBefore);
        QVERIFY(pid > 0);
        holder.kill();
        QVERIFY(holder.waitForFinished());
        QCOMPARE(QFileInfo(lockPath).ownerId(), 1001u);
        QCOMPARE(QFileInfo(lockPath).permissions() & 0x0777, QFileDevice::Permissions(0x0644));
        unprivileged.emplace();
        QVERIFY(unprivileged->isActive());
    } else if (owner == "none") {
        // The unprivileged user may replace the file but not write the lock.
        SKIP_UNLESS_CAN_DROP_PRIVILEGES();
        QVERIFY(::chmod(QFile::encodeName(m_app).constData(), 0777) == 0);
        for (const QString &dir : {m_root.path(), QFileInfo(m_app).path()})
            QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        unprivileged.emplace();
        QVERIFY(unprivileged->isActive());
    } else if (owner == "directory") {
        QVERIFY(QDir().mkpath(lockPath));
    } else if (owner == "alive") {
        QVERIFY(held.tryLock(0));
    } else {
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
    }

    const Update::PassResult result =
        Update::replaceFiles({"a.dll"}, m_app, m_work, shortWaitMs, 600);
    unprivileged.reset();
    machine.reset();
    if (result.lock)
        result.lock->unlock();
    // The message names the lock in the way.
    const QString notRecorded =
        "Файл " + m_work + "/a.dll_ не может быть скопирован. Permission denied";
    QCOMPARE(Update::errorMessages(result.errors),
             replaced ? QStringList()
             : owner == "none"
                 ? QStringList{notRecorded}
                 : QStringList{"Другое обновление уже выполняется в " + m_work +
                               ". Файл блокировки: " + lockPath + ", компьютер " + holderHost +
                               ", процесс " + QString::number(holderPid) + "."});
    QCOMPARE(result.pending, CopyList());
    QCOMPARE(result.diagnostics, reason.isEmpty() ? QStringList()
                                                  : QStringList{"Error. Can't create lock file " +
                                                                lockPath + ": " + reason});
    QCOMPARE(readFile(m_app + "/a.dll"), QByteArray(replaced ? "new" : "old"));
    // A lock taken is let go; what is no lock stays as it was.
    QCOMPARE(QFileInfo::exists(lockPath),
             owner == "alive" || owner == "other machine" || owner == "directory");
    // Only the holder of the lock removes staged files: no other run can be
    // writing them then.
    QCOMPARE(QFile::exists(leftover), !replaced || !reason.isEmpty());
}

template<typename Condition>
static bool poll(Condition condition, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Two machines share the installation, each with its own working directory:
// machine A's deferred copy is in the middle of writing its temporary file
// when machine B's pass works in the same directory. A's process ids mean
// nothing to B; the file stays, and A's copy ends well.
void TestReplacement::anotherMachinesDeferredCopySurvives()
{
    SKIP_UNLESS_OTHER_MACHINE();
    QVERIFY(writeTree(m_app, {{"lib/a.so", "old a"}, {"lib/b.so", "old b"}}));
    QVERIFY(writeTree(m_work, {{"lib/b.so_", "new b"}}));
    const QString workA = m_root.path() + "/work-a-" + QFileInfo(m_app).dir().dirName();
    QVERIFY(QDir().mkpath(workA));
    // A's new version comes through a FIFO, so that its copy takes as long
    // as the test wants.
    const QString source = workA + "/a.so_";
    QVERIFY(::mkfifo(QFile::encodeName(source).constData(), 0644) == 0);
    const QString restart = workA + "/restarted";
    QVERIFY(QFile::copy(STANDIN_BINARY, restart));
    const Update::DeferredCopy copy{
        {{m_app + "/lib/a.so", source}}, {}, workA + "/Orvane.err", restart, workA, {}};

    OtherMachine machineA;
    QVERIFY(machineA.start(QStringList{"/bin/sh"} + Update::deferredCopyShellArguments(copy)));
    int writer = -1;
    QVERIFY(poll([&] {
        writer = ::open(QFile::encodeName(source).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0;
    }));
    const auto closeWriter = qScopeGuard([&writer] {
        if (writer >= 0)
            ::close(writer);
    });
    QVERIFY(::write(writer, "new ", 4) == 4);
    QString temporary;
    QVERIFY(poll([&] {
        const QStringList found =
            QDir(m_app + "/lib").entryList({".Orvane-deferred-*"}, QDir::Files | QDir::Hidden);
        temporary = found.isEmpty() ? QString() : m_app + "/lib/" + found.first();
        return !temporary.isEmpty() && QFileInfo(temporary).size() == 4;
    }));
    QVERIFY(lockHeld(temporary));

    const Update::PassResult result =
        Update::replaceFiles({"lib/b.so"}, m_app, m_work, shortWaitMs);
    QCOMPARE(Update::errorMessages(result.errors), QStringList());
    QVERIFY(QFile::exists(temporary));

    QVERIFY(::write(writer, "a", 1) == 1);
    ::close(writer);
    writer = -1;
    QVERIFY(machineA.waitForSuccess());
    QVERIFY(!waitForRecord(workA, "restarted").isEmpty());
    QCOMPARE(readTree(m_app), Tree({{"lib/a.so", "new a"}, {"lib/b.so", "new b"}}));
    QVERIFY(!QFile::exists(copy.errorFile));
}

QTEST_GUILESS_MAIN(TestReplacement)
#include "tst_replacement.moc"
