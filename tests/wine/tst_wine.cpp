// The Windows programs under Wine: the real Orvane.exe and OrvanePaths.exe of
// the Windows build, copied into a temporary installation beside the Windows
// stand-in installer "Hultrex.exe", run as real processes in a Wine prefix of
// their own on a virtual X display, with a Russian locale (code page 1251).
// Built once per Windows build: WINE_LOADER and WINE_ARCH name the Wine that
// runs it and the kind of prefix (the 32-bit build runs in a 32-bit prefix).
//
// Outside CI a missing tool skips the whole stage; with CI=true it fails.

#include "testsupport.h"

#include <QtTest>

#include <csignal>

#include <unistd.h>

namespace {

const QString russianLocale = QStringLiteral("ru_RU.UTF-8");

// Whether the locale that gives Wine code page 1251 is there: without it
// Wine reads every non-ASCII command line, variable and title as ASCII.
bool hasRussianLocale()
{
    QProcess locales;
    locales.start(QStringLiteral("locale"), {QStringLiteral("-a")});
    if (!locales.waitForFinished(30000) || locales.exitCode() != 0)
        return false;
    const QString wanted = QString(russianLocale).remove(QLatin1Char('-')).toLower();
    const QStringList known = QString::fromLocal8Bit(locales.readAllStandardOutput())
                                  .toLower()
                                  .remove(QLatin1Char('-'))
                                  .split(QLatin1Char('\n'));
    return known.contains(wanted);
}

// A tool of the stage: found on PATH or where Debian's wine package puts it.
QString tool(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    const QString wineDir = QStringLiteral("/usr/lib/wine/") + name;
    return QFileInfo(wineDir).isExecutable() ? wineDir : QString();
}

// The Windows form of a path of this machine, as Wine shows it to a program:
// drive Z: with forward slashes, the way Qt reports its directories.
QString windowsPath(const QString &path)
{
    return QStringLiteral("Z:") + path;
}

// The same with backslashes, as a Windows user writes it.
QString nativeWindowsPath(const QString &path)
{
    return QDir::toNativeSeparators(windowsPath(path)).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// A text in code page 1251, the ANSI code page of a Russian Windows, as
// Orvane.exe writes its log and its error file there.
QByteArray cp1251(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x80)
            bytes += char(u);
        else if (u >= 0x0410 && u <= 0x044F) // А..я
            bytes += char(u - 0x0410 + 0xC0);
        else if (u == 0x0401 || u == 0x0451) // Ё, ё
            bytes += char(u == 0x0401 ? 0xA8 : 0xB8);
        else
            bytes += '?';
    }
    return bytes;
}

// The programs the update starts by name, planted in a directory as copies
// of the stand-in, which leaves "<name>-received.json" there when it runs.
const QStringList systemPrograms{QStringLiteral("cmd"), QStringLiteral("ping"),
                                 QStringLiteral("notepad")};

bool plantPrograms(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return false;
    for (const QString &name : systemPrograms) {
        if (!QFile::copy(QStringLiteral(STANDIN_EXE), dir + '/' + name + ".exe"))
            return false;
    }
    return true;
}

// The planted programs that were run instead of the system's.
QStringList plantedThatRan(const QString &dir)
{
    QStringList ran;
    for (const QString &name : systemPrograms) {
        if (QFile::exists(dir + '/' + name + "-received.json"))
            ran.append(name);
    }
    return ran;
}

// The old versions set aside for a file of a directory.
QStringList asidesOf(const QString &path)
{
    const QFileInfo file(path);
    return file.dir().entryList({'.' + file.fileName() + ".orvane-old-*"},
                                QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestWine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void executablesCarryResources_data();
    void executablesCarryResources();
    void handOverArguments_data();
    void handOverArguments();
    void workpath_data();
    void workpath();
    void installerCannotStart_data();
    void installerCannotStart();
    void pathAtItsLimit();
    void cannotCreateWorkDir();
    void cannotEnterWorkDir();
    void updateRestarts_data();
    void updateRestarts();
    void scannerHoldsStagedFiles_data();
    void scannerHoldsStagedFiles();
    void replacesRunningProgram();
    void directoryAsNewVersionIsReported();
    void missingSourcesOpenErrorFile();
    void unicodeEnvironment_data();
    void unicodeEnvironment();
    void windowStartsInstaller_data();
    void windowStartsInstaller();

private:
    TempInstallation install(const QString &program = QStringLiteral(ORVANE_EXE)) const;
    TempInstallation::Result run(TempInstallation &installation, const QStringList &arguments,
                                 const QString &workingDirectory = QString()) const;
    TempInstallation::Result run(TempInstallation &installation, const QStringList &arguments,
                                 const QProcessEnvironment &environment,
                                 const QString &workingDirectory = QString()) const;
    // Waits until every program of the prefix has ended, or kills them all.
    bool waitForWine(int timeoutMs = 30000) const;
    // Runs a Windows program of the prefix (regedit, reg) and waits for it.
    bool runInPrefix(const QStringList &arguments) const;

    QTemporaryDir m_prefix;
    VirtualDisplay m_display;
    QString m_wine;
    QString m_wineserver;
    QProcessEnvironment m_environment;
};

void TestWine::initTestCase()
{
    const bool inCi = qEnvironmentVariable("CI") == QLatin1String("true");
    m_wine = tool(QStringLiteral(WINE_LOADER));
    m_wineserver = tool(QStringLiteral("wineserver"));
    QString missing;
    if (m_wine.isEmpty() || m_wineserver.isEmpty())
        missing = QStringLiteral(WINE_LOADER " is not installed");
    else if (!m_display.start(&missing))
        ;
    else if (!hasRussianLocale())
        missing = QStringLiteral("no locale ") + russianLocale +
                  QStringLiteral(" (localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 makes it)");
    if (!missing.isEmpty()) {
        if (inCi)
            QFAIL(qPrintable(missing));
        QSKIP(qPrintable(missing));
    }
    for (const char *program : {ORVANE_EXE, ORVANEPATHS_EXE, STANDIN_EXE, HOLDER_EXE, LIBRARY_DLL})
        QVERIFY2(QFileInfo::exists(QString::fromUtf8(program)), program);

    QVERIFY(m_prefix.isValid());
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("WINEPREFIX"), m_prefix.path());
    m_environment.insert(QStringLiteral("WINEARCH"), QStringLiteral(WINE_ARCH));
    m_environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    // No Mono or Gecko installer is offered when the prefix is made.
    m_environment.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    m_environment.insert(QStringLiteral("DISPLAY"), m_display.name());
    m_environment.insert(QStringLiteral("LANG"), russianLocale);
    m_environment.insert(QStringLiteral("LC_ALL"), russianLocale);
    // The log of a GUI executable reaches standard error only when asked to.
    m_environment.insert(QStringLiteral("WINEQT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    m_environment.remove(QStringLiteral("QT_QPA_PLATFORM"));

    QProcess boot;
    boot.setProcessEnvironment(m_environment);
    boot.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    boot.start(m_wine, {QStringLiteral("wineboot"), QStringLiteral("--init")});
    QVERIFY(boot.waitForFinished(180000));
    // Text as a Russian Windows draws it: its dialog and interface fonts,
    // which no Debian package has, stand for a sans-serif font with Latin and
    // Cyrillic (without, Qt draws Latin words with a serif fallback).
    QByteArray fonts = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows "
                       "NT\\CurrentVersion\\FontSubstitutes]\n";
    for (const char *font :
         {"MS Shell Dlg", "MS Shell Dlg 2", "Tahoma", "Microsoft Sans Serif", "Segoe UI", "Arial"})
        fonts += '"' + QByteArray(font) + "\"=\"Liberation Sans\"\n";
    QVERIFY(writeFile(m_prefix.path() + "/fonts.reg", fonts));
    QVERIFY(runInPrefix({"regedit", "/S", windowsPath(m_prefix.path() + "/fonts.reg")}));
    QVERIFY(waitForWine(180000));
}

void TestWine::cleanup()
{
    // A test that failed half-way may leave programs running: none may
    // reach into the next test.
    QProcess::execute(m_wineserver, {QStringLiteral("-k")});
}

TempInstallation TestWine::install(const QString &program) const
{
    return TempInstallation(program, QStringLiteral(STANDIN_EXE), QStringLiteral("Hultrex.exe"));
}

TempInstallation::Result TestWine::run(TempInstallation &installation, const QStringList &arguments,
                                       const QString &workingDirectory) const
{
    return run(installation, arguments, m_environment, workingDirectory);
}

TempInstallation::Result TestWine::run(TempInstallation &installation, const QStringList &arguments,
                                       const QProcessEnvironment &environment,
                                       const QString &workingDirectory) const
{
    return installation.run(arguments, environment, workingDirectory, {m_wine});
}

bool TestWine::runInPrefix(const QStringList &arguments) const
{
    QProcess program;
    program.setProcessEnvironment(m_environment);
    program.start(m_wine, arguments);
    return program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit &&
           program.exitCode() == 0;
}

bool TestWine::waitForWine(int timeoutMs) const
{
    QProcess wait;
    wait.setProcessEnvironment(m_environment);
    wait.start(m_wineserver, {QStringLiteral("-w")});
    if (wait.waitForFinished(timeoutMs))
        return true;
    wait.kill();
    wait.waitForFinished();
    return false;
}

void TestWine::executablesCarryResources_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("Orvane.exe") << ORVANE_EXE;
    QTest::newRow("OrvanePaths.exe") << ORVANEPATHS_EXE;
}

// The programs of the build carry the application icon, the version record
// and the manifest that asks for no elevation.
void TestWine::executablesCarryResources()
{
    QFETCH(QString, program);
    const QByteArray executable = readFile(program);
    const auto utf16 = [](const QString &text) {
        return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    };
    QVERIFY(executable.contains("level=\"asInvoker\" uiAccess=\"false\""));
    for (const char *text : {"FileVersion", "1.3.0.0", "ProductVersion", "1,3"})
        QVERIFY2(executable.contains(utf16(QString::fromLatin1(text))), text);
    // The icon's picture, as the .ico file holds it after its directory.
    const QByteArray icon = readFile(ORVANE_ICON);
    QVERIFY(icon.size() > 22);
    const quint32 offset = qFromLittleEndian<quint32>(icon.constData() + 18);
    QVERIFY(executable.contains(icon.mid(int(offset))));

    // Built for the Windows of this prefix (the machine field of the PE
    // header: x86 or x64) and importing nothing but that Windows' own
    // libraries, every one of which its system directory holds.
    const quint32 pe = qFromLittleEndian<quint32>(executable.constData() + 0x3C);
    QCOMPARE(executable.mid(int(pe), 4), QByteArray("PE\0\0", 4));
    const bool win32 = QLatin1String(WINE_ARCH) == QLatin1String("win32");
    QCOMPARE(qFromLittleEndian<quint16>(executable.constData() + pe + 4),
             quint16(win32 ? 0x14C : 0x8664));
    QProcess objdump;
    objdump.start(QStringLiteral("x86_64-w64-mingw32-objdump"), {QStringLiteral("-p"), program});
    QVERIFY(objdump.waitForFinished(60000));
    QCOMPARE(objdump.exitCode(), 0);
    QStringList imports;
    const QRegularExpression dllName(QStringLiteral("DLL Name: (\\S+)"));
    for (auto match = dllName.globalMatch(QString::fromLatin1(objdump.readAllStandardOutput()));
         match.hasNext();)
        imports.append(match.next().captured(1));
    QVERIFY(imports.contains(QStringLiteral("KERNEL32.dll"), Qt::CaseInsensitive));
    for (const QString &library : imports)
        QVERIFY2(QFile::exists(m_prefix.path() + "/drive_c/windows/system32/" + library.toLower()),
                 qPrintable(library));
}

void TestWine::handOverArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("plain") << QStringList{"a", "b"};
    QTest::newRow("blank and empty") << QStringList{"with blank", "", "x"};
    QTest::newRow("double quotes") << QStringList{"say \"hi\"", "\"", "a\"b"};
    QTest::newRow("backslashes") << QStringList{"C:\\dir\\", "a\\\\\"b", "x\\\\",
                                                "\\\\server\\share"};
    QTest::newRow("Cyrillic") << QStringList{"обновление", "Файл 1"};
}

void TestWine::handOverArguments()
{
    QFETCH(QStringList, arguments);
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    // The installer's own shared Qt beside the program changes nothing.
    QVERIFY(installation.addInstallersQt("[Paths]\nPlugins=plugins\n"));
    QProcessEnvironment environment = m_environment;
    environment.insert(QStringLiteral("STANDIN_LINGER_MS"), QStringLiteral("3000"));

    const TempInstallation::Result result = run(installation, arguments, environment);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 0);
    // Orvane has ended; the installer lingers on.
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-finished"));
    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), result.output.constData());
    QCOMPARE(recordedArguments(record), arguments);
    QCOMPARE(record.value("cwd").toString().toLower(),
             nativeWindowsPath(installation.workDir()).toLower());
    QVERIFY2(record.value("PATH").toString().endsWith(
                 ';' + windowsPath(installation.path()) + "/clientslibs", Qt::CaseInsensitive),
             qPrintable(record.value("PATH").toString()));
    // Orvane has ended, the installer runs on and ends later by itself.
    QVERIFY(waitForFile(installation.workDir() + "/Hultrex-finished", 30000));
}

void TestWine::workpath_data()
{
    QTest::addColumn<QString>("content");  // "APP" stands for the installation, in Windows form
    QTest::addColumn<QString>("expected"); // relative to the installation
    QTest::newRow("dot backslash") << ".\\upd"
                                   << "upd/workdir";
    QTest::newRow("dot dot backslash") << "..\\upd"
                                       << "../upd/workdir";
    QTest::newRow("drive path, trailing backslash, CR LF") << "APP\\data\\\r\n"
                                                           << "data/workdir";
}

void TestWine::workpath()
{
    QFETCH(QString, content);
    QFETCH(QString, expected);
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    content.replace("APP", nativeWindowsPath(installation.path()));
    QVERIFY(installation.writeFile("workpath", content.toUtf8()));

    const TempInstallation::Result result = run(installation, {"x"});
    QCOMPARE(result.exitCode, 0);
    const QString workDir = QDir::cleanPath(installation.path() + '/' + expected);
    const QJsonObject record = waitForRecord(workDir, "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), result.output.constData());
    QCOMPARE(recordedArguments(record), QStringList{"x"});
    QCOMPARE(record.value("cwd").toString().toLower(), nativeWindowsPath(workDir).toLower());
    if (expected.startsWith(".."))
        QDir(workDir).removeRecursively();
}

void TestWine::installerCannotStart_data()
{
    // Both programs, as for the environment.
    unicodeEnvironment_data();
}

// No installer: the log says so with the system's reason, and the exit code
// is one of its own.
void TestWine::installerCannotStart()
{
    QFETCH(QString, program);
    TempInstallation installation = install(program);
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("workdir/libpath", "show = 0\n"));
    QVERIFY(QFile::remove(installation.path() + "/Hultrex.exe"));

    const TempInstallation::Result result = run(installation, {"a"});
    QVERIFY(result.finished);
    QVERIFY2(result.exitCode == 7, result.output.constData());
    const QByteArray expected = "Error. Can't start installer " +
                                windowsPath(installation.path()).toUtf8() + "/Hultrex.exe: ";
    const int at = result.output.indexOf(expected);
    QVERIFY2(at >= 0, result.output.constData());
    // The reason follows.
    QVERIFY2(result.output.mid(at + expected.size(), 1) != "\"", result.output.constData());
}

// A PATH that the installation's entry would take past the 32,767 units a
// variable holds stays as it was: Wine would cut it in the middle of an
// entry, Windows would refuse it. The log says why the entry is missing.
void TestWine::pathAtItsLimit()
{
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    // The PATH that Wine gives a program: WINEPATH, then its own entries.
    QProcessEnvironment environment = m_environment;
    environment.insert("WINEPATH", "C:\\probe");
    QCOMPARE(run(installation, {}, environment).exitCode, 0);
    QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    const QString probed = record.value("PATH").toString();
    const QString entry = ';' + windowsPath(installation.path()) + "/clientslibs";
    QVERIFY2(probed.startsWith("C:\\probe;") && probed.endsWith(entry), qPrintable(probed));
    const QString own = probed.mid(8, probed.size() - 8 - entry.size());
    QVERIFY(QFile::remove(installation.workDir() + "/Hultrex-received.json"));

    const QString added = "C:\\" + QString(32760 - own.size() - 3, 'p');
    environment.insert("WINEPATH", added);
    const TempInstallation::Result result = run(installation, {}, environment);
    QCOMPARE(result.exitCode, 0);
    record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QCOMPARE(record.value("PATH").toString(), added + own);
    const QByteArray logged = "Error. PATH is too long to append " +
                              windowsPath(installation.path()).toUtf8() + "/clientslibs";
    QVERIFY2(result.output.contains(logged), result.output.constData());
}

void TestWine::cannotCreateWorkDir()
{
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    // A file stands where the directory would have to be created.
    QVERIFY(installation.writeFile("blocker", "a file"));
    QVERIFY(installation.writeFile("workpath", ".\\blocker"));

    const TempInstallation::Result result = run(installation, {"a"});
    QCOMPARE(result.exitCode, 2);
    const QString expected = "Error. Can't create work directory " +
                             windowsPath(installation.path()) + "/blocker/workdir";
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
}

// Run as an unprivileged user, in a Wine prefix of that user's own: the
// working directory exists, so creating it succeeds, but it cannot be
// entered.
void TestWine::cannotEnterWorkDir()
{
    SKIP_UNLESS_CAN_DROP_PRIVILEGES();
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    QVERIFY(QDir().mkpath(installation.workDir()));
    QVERIFY(QFile::setPermissions(installation.workDir(), QFileDevice::ReadOwner));
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(::chown(QFile::encodeName(home.path()).constData(), unprivilegedId, unprivilegedId) ==
            0);
    QProcessEnvironment environment = m_environment;
    environment.insert("HOME", home.path());
    environment.insert("WINEPREFIX", home.path() + "/prefix");
    // That user's prefix is made first: making one takes longer than a run
    // may (with 32-bit Wine beside, a 64-bit prefix gets both halves).
    QProcess boot;
    boot.setProcessEnvironment(environment);
    boot.start(unprivilegedWrapper().first(),
               unprivilegedWrapper().mid(1) + QStringList{m_wine, "wineboot", "--init"});
    QVERIFY(boot.waitForFinished(180000));
    QProcess settle;
    settle.setProcessEnvironment(environment);
    settle.start(unprivilegedWrapper().first(),
                 unprivilegedWrapper().mid(1) + QStringList{m_wineserver, "-w"});
    QVERIFY(settle.waitForFinished(180000));

    const TempInstallation::Result result = installation.run(
        {"a"}, environment, QString(), unprivilegedWrapper() + QStringList{m_wine});
    QVERIFY2(result.exitCode == 1, result.output.constData());
    const QString expected =
        "Error. Directory can not be set like current " + windowsPath(installation.workDir());
    QVERIFY2(result.output.contains(expected.toUtf8()), result.output.constData());
    // That user's Wine ends with the test.
    QProcess::execute("setpriv", unprivilegedWrapper().mid(1) +
                                     QStringList{"env", "WINEPREFIX=" + home.path() + "/prefix",
                                                 m_wineserver, "-k"});
}

void TestWine::updateRestarts_data()
{
    QTest::addColumn<QString>("name");          // of the library, in the installation
    QTest::addColumn<bool>("relativeWorkpath"); // "upd", started from the directory "start"
    // "open": held open without delete sharing past the removal attempts;
    // "loaded": loaded as a library by a program that runs on
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("readOnly"); // the installed file has the read-only attribute
    QTest::addColumn<bool>("missing");  // a second name without a new version, reported after all
    QTest::addColumn<bool>("planted");  // cmd.exe, ping.exe, notepad.exe in the working directory
    // reports of a chain that never ran and of one that still runs lie in
    // the working directory
    QTest::addColumn<bool>("reports");
    // With a held file: "killed", the interpreter killed during its wait, so
    // that the next plain start copies the file; "second", a second update of
    // the file while the copy is pending, which waits for it.
    QTest::addColumn<QString>("interrupt");

    const QString plugin = "plugins/lib.dll";
    QTest::newRow("replaced at once; the reports of a chain that never ran are removed")
        << plugin << false << "" << false << false << false << true << QString();
    QTest::newRow("backslash-separated name, replaced at once")
        << "plugins\\lib.dll" << false << "" << false << false << false << false << QString();
    QTest::newRow("read-only file replaced at once")
        << plugin << false << "" << true << false << false << false << QString();
    QTest::newRow("relative workpath")
        << plugin << true << "" << false << false << false << false << QString();
    QTest::newRow(
        "loaded by a running program, read-only, replaced at once; the old image stays aside")
        << plugin << false << "loaded" << true << false << false << false << QString();
    QTest::newRow("held, copied once released; no planted program runs")
        << plugin << false << "open" << false << false << true << false << QString();
    QTest::newRow("held, relative workpath, another file missing; no planted program runs")
        << plugin << true << "open" << false << true << true << false << QString();
    // Characters that mean something to the interpreter stay plain text.
    QTest::newRow("held, interpreter's characters in the path")
        << "Обновление & (x) ^!/lib 1.dll" << false << "open" << false << false << false << false
        << QString();
    QTest::newRow("held; the interpreter killed during its wait: the next start copies")
        << plugin << false << "open" << false << false << false << false << "killed";
    QTest::newRow("held; a second update while the copy is pending waits for it")
        << plugin << false << "open" << false << false << false << false << "second";
}

// The update of one library, then the restart: the restarted program starts
// the installer without arguments, in the same working directory as the
// first start, with clientslibs in PATH once and none of the interpreter's
// variables.
void TestWine::updateRestarts()
{
    QFETCH(QString, name);
    QFETCH(bool, relativeWorkpath);
    QFETCH(QString, holder);
    QFETCH(bool, readOnly);
    QFETCH(bool, missing);
    QFETCH(bool, planted);
    QFETCH(bool, reports);
    QFETCH(QString, interrupt);
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    QString startDir = installation.path();
    QString workDir = installation.workDir();
    if (relativeWorkpath) {
        QVERIFY(installation.writeFile("workpath", "upd"));
        startDir = installation.path() + "/start";
        workDir = startDir + "/upd/workdir";
        QVERIFY(QDir().mkpath(startDir));
    }
    const QString lib = installation.path() + '/' + QString(name).replace('\\', '/');
    // A library that is loaded must be one.
    const QByteArray old = holder == "loaded" ? readFile(LIBRARY_DLL) : QByteArray("old lib");
    QVERIFY(writeFile(lib, old));
    QVERIFY(writeFile(QString(workDir + '/' + name + '_').replace('\\', '/'), "new lib"));
    if (readOnly)
        QVERIFY(QFile::setPermissions(lib, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    if (planted)
        QVERIFY(plantPrograms(workDir));

    // A chain still runs while a process its program started does: an
    // installer that lingers after Orvane has ended stands for one.
    QString running;
    const QString neverRan = ".Orvane-report-4000000001-2";
    if (reports) {
        QProcessEnvironment environment = m_environment;
        environment.insert("STANDIN_LINGER_MS", "60000");
        QCOMPARE(run(installation, {"x"}, environment).exitCode, 0);
        const QJsonObject record = waitForRecord(workDir, "Hultrex", 30000);
        QVERIFY(record.value("starter").toInt() > 0);
        QVERIFY(QFile::remove(workDir + "/Hultrex-received.json"));
        running = ".Orvane-report-" + QString::number(record.value("starter").toInt()) + "-2";
        QVERIFY(writeFile(workDir + '/' + running, "a running chain's"));
        QVERIFY(writeFile(workDir + '/' + neverRan, "a chain's that never ran"));
    }

    QProcess holding;
    if (!holder.isEmpty()) {
        QVERIFY(installation.addExecutable(HOLDER_EXE, "holder.exe"));
        holding.setProcessEnvironment(m_environment);
        holding.start(m_wine, QStringList{installation.path() + "/holder.exe"} +
                                  (holder == "loaded" ? QStringList{"--load"} : QStringList()) +
                                  QStringList{windowsPath(lib)});
        QVERIFY(waitForFile(lib + ".held", 30000));
    }

    const TempInstallation::Result result = run(
        installation, QStringList{"-r", name} + (missing ? QStringList{"gone.dll"} : QStringList()),
        startDir);
    QCOMPARE(result.exitCode, 0);
    if (holder == "open") {
        // The file goes to the hidden interpreter, which copies it once the
        // holder has let go, after the program has ended.
        QVERIFY2(result.output.contains(cp1251(name)), result.output.constData());
        QCOMPARE(readFile(lib), old);
        // The interpreter names its variables, not the paths.
        const QString interpreter = "%ORVANE_P%";
        if (interrupt == "killed") {
            // (Wine may show it as more than one process.)
            const QList<qint64> interpreters = processesMentioning(interpreter);
            QVERIFY(!interpreters.isEmpty());
            for (const qint64 pid : interpreters)
                ::kill(pid_t(pid), SIGKILL);
            QVERIFY(waitWhileProcessMentions(interpreter, 10000));
        }
        QVERIFY(writeFile(lib + ".release", ""));
        QVERIFY(holding.waitForFinished(30000));
        if (interrupt == "killed") {
            QVERIFY(QFileInfo::exists(workDir + "/Orvane.journal"));
            QCOMPARE(run(installation, {}, startDir).exitCode, 0);
        } else if (interrupt == "second") {
            QVERIFY(writeFile(QString(workDir + '/' + name + '_').replace('\\', '/'), "newer lib"));
            const TempInstallation::Result second = run(installation, {"-r", name}, startDir);
            QVERIFY2(second.output.contains("Success!"), second.output.constData());
            // It changed nothing before the copy had ended.
            QVERIFY2(second.output.contains("Waiting for the deferred copy"),
                     second.output.constData());
        }
    } else {
        QVERIFY2(result.output.contains("Success!"), result.output.constData());
        QCOMPARE(readFile(lib), QByteArray("new lib"));
    }
    const QJsonObject record = waitForRecord(workDir, "Hultrex", 60000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(recordedArguments(record), QStringList());
    QCOMPARE(readFile(lib), QByteArray(interrupt == "second" ? "newer lib" : "new lib"));
    QVERIFY(!QFileInfo::exists(workDir + "/Orvane.journal"));
    // The new version keeps its own attributes: it is not read-only.
    QVERIFY(QFileInfo(lib).isWritable());
    QCOMPARE(record.value("cwd").toString().toLower(), nativeWindowsPath(workDir).toLower());
    QCOMPARE(record.value("PATH").toString().count("clientslibs"), 1);
    QCOMPARE(record.value("orvaneVariables").toArray(), QJsonArray());
    // The other failure is reported once the copy has been made, in the
    // system's editor.
    if (missing) {
        QCOMPARE(readFile(workDir + "/Orvane.err"),
                 cp1251("Файл " + windowsPath(workDir) + "/gone.dll_ не существует."));
        const QString notepad = m_display.waitForWindow("Orvane.err", nullptr, 20000);
        QVERIFY(!notepad.isEmpty());
        // Its window would outlive the test's end of Wine.
        m_display.xdotool({"windowkill", notepad});
    }
    QCOMPARE(QFile::exists(workDir + "/Orvane.err"), missing);
    QCOMPARE(plantedThatRan(workDir), QStringList());
    QCOMPARE(QDir(workDir).entryList({".Orvane-report-*"}, QDir::Files | QDir::Hidden),
             reports ? QStringList{running} : QStringList());
    // The old image of a library still loaded stays aside, writable, for a
    // later run to remove.
    const QStringList asides = asidesOf(lib);
    QCOMPARE(asides.size(), holder == "loaded" ? 1 : 0);
    if (holder == "loaded") {
        QCOMPARE(readFile(QFileInfo(lib).dir().filePath(asides.first())), old);
        QVERIFY(QFileInfo(QFileInfo(lib).dir().filePath(asides.first())).isWritable());
        QVERIFY(writeFile(lib + ".release", ""));
        QVERIFY(holding.waitForFinished(30000));
    }
    // Nothing staged is left beside the library.
    QCOMPARE(QFileInfo(lib).dir().entryList({".*.orvane-new-*", ".Orvane-deferred-*"},
                                            QDir::Files | QDir::Hidden),
             QStringList());
}

void TestWine::scannerHoldsStagedFiles_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("megabytes");
    // The directory the program was started from is removed meanwhile, as
    // a download directory that is cleaned up.
    QTest::addColumn<bool>("startRemoved");

    QTest::newRow("2 files of 20 MB") << 2 << 20 << false;
    QTest::newRow("10 files of 3 MB") << 10 << 3 << false;
    QTest::newRow("2 files of 20 MB, the start directory removed meanwhile") << 2 << 20 << true;
}

// An on-access scanner holds each new staged file for a moment without
// sharing it: the update waits it out, and ends in "Success!" and the
// restart, with every file replaced and nothing left beside them.
void TestWine::scannerHoldsStagedFiles()
{
    QFETCH(int, files);
    QFETCH(int, megabytes);
    QFETCH(bool, startRemoved);
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    QVERIFY(installation.addExecutable(SCANNER_EXE, "scanner.exe"));
    QStringList names;
    for (int n = 0; n < files; ++n) {
        const QString name = QStringLiteral("lib%1.dll").arg(n);
        names << name;
        QVERIFY(installation.writeFile(name, "old"));
        QVERIFY(writeFile(installation.workDir() + '/' + name + '_',
                          QByteArray(megabytes * 1024 * 1024, char('a' + n))));
    }
    const QString start = installation.path() + "/downloads";
    QVERIFY(QDir().mkpath(start));

    QTemporaryDir control;
    QVERIFY(control.isValid());
    QProcess scanner;
    scanner.setProcessEnvironment(m_environment);
    scanner.start(m_wine,
                  {installation.path() + "/scanner.exe", windowsPath(installation.path()),
                   windowsPath(control.filePath("ready")), windowsPath(control.filePath("stop"))});
    QVERIFY(waitForFile(control.filePath("ready"), 30000));
    // Removed once the pass has begun to stage the files.
    QProcess remover;
    if (startRemoved)
        remover.start("/bin/sh", {"-c",
                                  "until ls -a \"$0\" | grep -q orvane-new; do sleep 0.01; done; "
                                  "rm -r \"$1\"",
                                  installation.path(), start});

    const TempInstallation::Result result = run(installation, QStringList{"-r"} + names, start);
    QVERIFY(!startRemoved || remover.waitForFinished(1000));
    QVERIFY(writeFile(control.filePath("stop"), ""));
    QVERIFY(scanner.waitForFinished(30000));
    QCOMPARE(readFile(control.filePath("stop.count")).toInt(), files);
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.contains("Success!"), result.output.constData());
    QCOMPARE(QDir(start).exists(), !startRemoved);
    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 60000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    for (int n = 0; n < files; ++n)
        QCOMPARE(readFile(installation.path() + '/' + names.at(n)),
                 QByteArray(megabytes * 1024 * 1024, char('a' + n)));
    QCOMPARE(QDir(installation.path())
                 .entryList({".*.orvane-new-*", ".Orvane-deferred-*"}, QDir::Files | QDir::Hidden),
             QStringList());
    QVERIFY(!QFile::exists(installation.workDir() + "/Orvane.err"));
}

void TestWine::replacesRunningProgram()
{
    // The new version of Orvane.exe is the stand-in: whoever starts after
    // the update shows which program the name now holds.
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    QVERIFY(writeFile(installation.workDir() + "/Orvane.exe_", readFile(STANDIN_EXE)));

    const TempInstallation::Result result = run(installation, {"-r", "Orvane.exe"});
    QCOMPARE(result.exitCode, 0);
    // The running program steps aside for its new version at once, and the
    // new version is started directly, where the first Orvane was started:
    // the installation.
    QVERIFY2(result.output.contains("Success!"), result.output.constData());
    const QJsonObject record = waitForRecord(installation.path(), "Orvane", 30000);
    QVERIFY2(!record.isEmpty(), installation.outputSoFar().constData());
    QCOMPARE(readFile(installation.programPath()), readFile(STANDIN_EXE));
    QVERIFY(!QFile::exists(installation.workDir() + "/Orvane.err"));
    const QStringList asides = asidesOf(installation.programPath());
    QCOMPARE(asides.size(), 1);
    QCOMPARE(readFile(installation.path() + '/' + asides.first()), readFile(ORVANE_EXE));

    // The next update: the program that stepped aside has ended and goes. A
    // library a program still has loaded stays aside. A run killed between
    // its two renames left the old version of a library whose name is free:
    // it gets the name back before anything else.
    QVERIFY(QFile::remove(installation.programPath()));
    QVERIFY(QFile::copy(ORVANE_EXE, installation.programPath()));
    const QString held = installation.path() + "/.held.dll.orvane-old-Held01";
    QVERIFY(QFile::copy(LIBRARY_DLL, held));
    QVERIFY(installation.writeFile("held.dll", "new held"));
    QVERIFY(installation.addExecutable(HOLDER_EXE, "holder.exe"));
    QProcess holding;
    holding.setProcessEnvironment(m_environment);
    holding.start(m_wine, {installation.path() + "/holder.exe", "--load", windowsPath(held)});
    QVERIFY(waitForFile(held + ".held", 30000));
    QVERIFY(installation.writeFile(".lib.dll.orvane-old-Kill01", "old lib"));
    QVERIFY(installation.writeFile("workdir/other.dll_", "new other"));

    const TempInstallation::Result next = run(installation, {"-r", "other.dll"});
    QVERIFY2(next.output.contains("Success!"), next.output.constData());
    QVERIFY(!waitForRecord(installation.workDir(), "Hultrex", 30000).isEmpty());
    QCOMPARE(asidesOf(installation.programPath()), QStringList());
    QCOMPARE(readFile(installation.path() + "/lib.dll"), QByteArray("old lib"));
    QCOMPARE(asidesOf(installation.path() + "/lib.dll"), QStringList());
    QVERIFY(QFile::exists(held));
    QCOMPARE(readFile(installation.path() + "/other.dll"), QByteArray("new other"));
    QVERIFY(writeFile(held + ".release", ""));
    QVERIFY(holding.waitForFinished(30000));
}

// A directory as the new version is neither staged nor left to the
// interpreter, which could not copy it either: it is reported at once in the
// error file, which opens in Notepad, and the installed file stays as it was,
// with nothing temporary left behind.
void TestWine::directoryAsNewVersionIsReported()
{
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("lib.dll", "old lib"));
    QVERIFY(QDir().mkpath(installation.workDir() + "/lib.dll_"));

    const TempInstallation::Result result = run(installation, {"-r", "lib.dll"});
    QCOMPARE(result.exitCode, 0);
    const QByteArray report = readFile(installation.workDir() + "/Orvane.err");
    QVERIFY2(report.startsWith(cp1251("Файл " + windowsPath(installation.workDir()) +
                                      "/lib.dll_ не может быть скопирован. ")),
             report.constData());
    QVERIFY2(!m_display.waitForWindow("Orvane.err", nullptr, 20000).isEmpty(),
             installation.outputSoFar().constData());
    QCOMPARE(readFile(installation.path() + "/lib.dll"), QByteArray("old lib"));
    QCOMPARE(QDir(installation.path())
                 .entryList({".*.orvane-new-*", ".Orvane-deferred-*"}, QDir::Files | QDir::Hidden),
             QStringList());
    QCOMPARE(
        QDir(installation.workDir()).entryList({".Orvane-report-*"}, QDir::Files | QDir::Hidden),
        QStringList());
}

void TestWine::missingSourcesOpenErrorFile()
{
    TempInstallation installation = install();
    QVERIFY(installation.isValid());
    // No lock file can be made where a directory stands: said at once, and
    // the update goes on.
    QVERIFY(QDir().mkpath(installation.workDir() + "/Orvane.lock"));
    // A notepad.exe among the downloads is not the editor.
    QVERIFY(plantPrograms(installation.workDir()));

    const TempInstallation::Result result = run(installation, {"-r", "a.dll", "b.dll"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.contains("Error. Can't create lock file "), result.output.constData());
    // One message per line in the ANSI code page, which is 1251 here.
    const QString workDir = windowsPath(installation.workDir());
    const QString expected =
        "Файл " + workDir + "/a.dll_ не существует.\r\nФайл " + workDir + "/b.dll_ не существует.";
    QCOMPARE(readFile(installation.workDir() + "/Orvane.err"), cp1251(expected));
    // Notepad shows the file under its name.
    QVERIFY2(!m_display.waitForWindow("Orvane.err", nullptr, 20000).isEmpty(),
             installation.outputSoFar().constData());
    QVERIFY(!QFile::exists(installation.workDir() + "/Hultrex-received.json"));
    QCOMPARE(plantedThatRan(installation.workDir()), QStringList());
}

void TestWine::unicodeEnvironment_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("Orvane") << ORVANE_EXE;
    QTest::newRow("OrvanePaths, not to be asked again") << ORVANEPATHS_EXE;
}

// Characters outside the 8-bit code page (1251 here) in the inherited PATH
// and in the library directories reach the installer unchanged.
void TestWine::unicodeEnvironment()
{
    QFETCH(QString, program);
    TempInstallation installation = install(program);
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("workdir/libpath",
                                   "\npath = D:\\Müller\\odbc\npath = E:\\客户端\nshow = 0\n"));
    QProcessEnvironment environment = m_environment;
    const QString inherited = "C:\\工具\\bin;C:\\Zoë\\bin";
    environment.insert("WINEPATH", inherited);

    const TempInstallation::Result result = run(installation, {"a"}, environment);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), result.output.constData());
    const QString path = record.value("PATH").toString();
    QVERIFY2(path.contains(inherited), qPrintable(path));
    QVERIFY2(path.endsWith(';' + windowsPath(installation.path()) + "/clientslibs"),
             qPrintable(path));
    if (program == ORVANEPATHS_EXE)
        QCOMPARE(record.value("LD_LIBRARY_PATH").toString(),
                 QString("D:\\Müller\\odbc:E:\\客户端"));
}

void TestWine::windowStartsInstaller_data()
{
    QTest::addColumn<int>("logPixels");   // the prefix's DPI setting
    QTest::addColumn<bool>("scaling");    // left to the program, not switched off by the user
    QTest::addColumn<QString>("picture"); // appended to ORVANE_SCREENSHOT's name; null: none
    QTest::newRow("100 %") << 96 << true << "";
    QTest::newRow("125 %") << 120 << true << QString();
    QTest::newRow("150 %") << 144 << true << "-150";
    QTest::newRow("200 %") << 192 << true << QString();
    QTest::newRow("150 %, scaling switched off") << 144 << false << QString();
}

// The window at the desktop's scale: it grows with it, every text fits
// (as the program measures it with the fonts it draws), and its start
// button starts the installer.
void TestWine::windowStartsInstaller()
{
    QFETCH(int, logPixels);
    QFETCH(bool, scaling);
    QFETCH(QString, picture);
    const double scale = scaling ? logPixels / 96.0 : 1.0;
    QVERIFY(runInPrefix({"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                         "REG_DWORD", "/d", QString::number(logPixels), "/f"}));
    const auto resetScale = qScopeGuard([this] {
        runInPrefix({"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                     "REG_DWORD", "/d", "96", "/f"});
    });
    TempInstallation installation = install(QStringLiteral(ORVANEPATHS_EXE));
    QVERIFY(installation.isValid());
    QVERIFY(installation.writeFile("workdir/libpath", "\npath = D:\\odbc\\lib\nshow = 1\n"));
    // The installer's own shared Qt beside the program changes nothing.
    QVERIFY(installation.addInstallersQt("[Paths]\nPrefix=.\n"));
    QProcess paths;
    QProcessEnvironment environment = m_environment;
    environment.insert("LD_LIBRARY_PATH", "C:\\inherited");
    environment.insert("ORVANE_LAYOUT_REPORT", "1");
    if (!scaling)
        environment.insert("WINEQT_ENABLE_HIGHDPI_SCALING", "0");
    paths.setProcessEnvironment(environment);
    paths.setWorkingDirectory(installation.path());
    paths.setProcessChannelMode(QProcess::MergedChannels);
    paths.start(m_wine, {installation.programPath(), "x y"});
    QVERIFY(paths.waitForStarted());

    const QByteArray report = waitForLayoutReport(paths, 60000);
    QVERIFY2(report.contains("scale " + QByteArray::number(scale) + ","), report.constData());
    QCOMPARE(report.endsWith("texts cut: none"), scaling);
    const QString window = m_display.waitForWindow("Установщик обновлений", &paths);
    QVERIFY2(!window.isEmpty(), paths.readAll().constData());
    const QSize size = m_display.windowSize(window);
    QVERIFY2(isScaledFormSize(size, scale),
             qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));
    QTest::qWait(1000); // painted before it is pictured
    const QString screenshot = qEnvironmentVariable("ORVANE_SCREENSHOT");
    if (!screenshot.isEmpty() && !picture.isNull()) {
        QProcessEnvironment shot = QProcessEnvironment::systemEnvironment();
        shot.insert("DISPLAY", m_display.name());
        QProcess import;
        import.setProcessEnvironment(shot);
        import.start("import", {"-window", window, screenshot.chopped(4) + picture + ".png"});
        QVERIFY(import.waitForFinished(30000));
    }

    // The start button, found by its place in the window.
    m_display.clickUntilFinished(window, qRound(324 * scale), qRound(381 * scale), paths);
    QCOMPARE(paths.state(), QProcess::NotRunning);
    QCOMPARE(paths.exitCode(), 0);
    const QJsonObject record = waitForRecord(installation.workDir(), "Hultrex", 30000);
    QVERIFY2(!record.isEmpty(), paths.readAll().constData());
    QCOMPARE(recordedArguments(record), QStringList{"x y"});
    QCOMPARE(record.value("LD_LIBRARY_PATH").toString(), QString("C:\\inherited:D:\\odbc\\lib"));
    QCOMPARE(readFile(installation.workDir() + "/libpath"),
             QByteArray("\npath = D:\\odbc\\lib\nshow = 1\n"));
}

QTEST_GUILESS_MAIN(TestWine)
#include "tst_wine.moc"
