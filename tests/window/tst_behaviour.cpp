// The window's behaviour on the offscreen platform: buttons, tooltips, the
// directory dialog and the start of the stand-in installer.

#include "app/application.h"
#include "testsupport.h"
#include "window/libpath.h"
#include "window/orvane.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>

namespace {

const QString askAgainTip = QStringLiteral("Чтобы снова видеть это окно\n"
                                           "необходимо удалить файл libpath\n"
                                           "в рабочей директории пользователя");

QStringList items(const Orvane &window)
{
    return listTexts(child<QListWidget>(window, "listWidget_Paths"));
}

// Answers the next directory dialog, once it is shown, with answer.
void answerDialog(const std::function<void(QFileDialog *)> &answer, int attempts = 500)
{
    QTimer::singleShot(10, [answer, attempts] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (dialog && dialog->isVisible()) {
                answer(dialog);
                return;
            }
        }
        if (attempts > 0)
            answerDialog(answer, attempts - 1);
    });
}

} // namespace

class TestBehaviour : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void defaultButton();
    void tooltipOnTickOnly();
    void tooltipOnLoad_data();
    void tooltipOnLoad();
    void widgetGlobalPos();
    void directoryDialog_data();
    void directoryDialog();
    void dialogInUsersLanguage_data();
    void dialogInUsersLanguage();
    void startButton_data();
    void startButton();
    void startButtonFailedSave();
    void startButtonInstallerMissing();

private:
    QString m_installer;
    QString m_startDir;
    QByteArray m_libraryPath;
    bool m_libraryPathSet = false;
};

void TestBehaviour::initTestCase()
{
    // The window starts the installer that lies beside the program: here the
    // test program, so the stand-in goes there.
    m_installer = QCoreApplication::applicationDirPath() + "/Hultrex";
    QFile::remove(m_installer);
    QVERIFY(QFile::copy(STANDIN_BINARY, m_installer));
    m_startDir = QDir::currentPath();
    m_libraryPathSet = qEnvironmentVariableIsSet("LD_LIBRARY_PATH");
    m_libraryPath = qgetenv("LD_LIBRARY_PATH");
}

void TestBehaviour::cleanupTestCase()
{
    QFile::remove(m_installer);
}

void TestBehaviour::init()
{
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
}

void TestBehaviour::cleanup()
{
    QDir::setCurrent(m_startDir);
    if (m_libraryPathSet)
        qputenv("LD_LIBRARY_PATH", m_libraryPath);
    else
        qunsetenv("LD_LIBRARY_PATH");
}

void TestBehaviour::defaultButton()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray stored = "path = /a\npath = /b\nshow = 0\n";
    QVERIFY(writeFile(dir.filePath("libpath"), stored));

    Orvane window(dir.path(), {});
    QVERIFY(!window.loadLibPaths());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(items(window), QStringList({"/a", "/b"}));

    QTest::mouseClick(child<QPushButton>(window, "pushButton_default"), Qt::LeftButton);
    QCOMPARE(items(window), QStringList{"/usr/local/lib"});
    QVERIFY(child<QCheckBox>(window, "checkBox_ask")->isChecked());
    QCOMPARE(readFile(dir.filePath("libpath")), stored);
    QVERIFY(window.isVisible());
}

void TestBehaviour::tooltipOnTickOnly()
{
    Orvane window("/nowhere", {});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *box = child<QCheckBox>(window, "checkBox_ask");

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), askAgainTip);

    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QVERIFY(!QToolTip::isVisible());
}

void TestBehaviour::tooltipOnLoad_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("tip");

    QTest::newRow("show = 0") << QByteArray("\npath = /a\nshow = 0\n") << true;
    QTest::newRow("show = 1") << QByteArray("\npath = /a\nshow = 1\n") << false;
}

void TestBehaviour::tooltipOnLoad()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, tip);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("libpath"), content));
    Orvane window(dir.path(), {});
    QCOMPARE(window.loadLibPaths(), !tip);
    QCOMPARE(QToolTip::isVisible(), tip);
    if (tip)
        QCOMPARE(QToolTip::text(), askAgainTip);
}

void TestBehaviour::widgetGlobalPos()
{
    Orvane window("/nowhere", {});
    window.move(40, 30);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto *box = child<QCheckBox>(window, "checkBox_ask");
    QCOMPARE(Orvane::widgetGlobalPos(box), box->mapToGlobal(QPoint(0, 0)));

    QWidget alone;
    alone.move(7, 9);
    QCOMPARE(Orvane::widgetGlobalPos(&alone), QPoint(7, 9));
}

void TestBehaviour::directoryDialog_data()
{
    QTest::addColumn<QStringList>("answers"); // per dialog: "accept", "cancel" or "name"
    QTest::addColumn<QStringList>("added");   // below the temporary directory

    QTest::newRow("accepted twice") << QStringList{"accept", "accept"} << QStringList{"", ""};
    QTest::newRow("cancelled") << QStringList{"cancel"} << QStringList();
    QTest::newRow("subdirectory named, not entered") << QStringList{"name"} << QStringList{"/sub"};
}

void TestBehaviour::directoryDialog()
{
    QFETCH(QStringList, answers);
    QFETCH(QStringList, added);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    Orvane window("/nowhere", {});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *add = child<QPushButton>(window, "pushButton_PathO");

    for (const QString &answer : answers) {
        QString caption;
        bool directoriesOnly = false;
        bool answered = false;
        answerDialog([&](QFileDialog *dialog) {
            caption = dialog->windowTitle();
            directoriesOnly = dialog->fileMode() == QFileDialog::Directory &&
                              dialog->testOption(QFileDialog::ShowDirsOnly);
            dialog->setDirectory(dir.path());
            if (answer == "cancel") {
                dialog->reject();
            } else {
                if (answer == "name")
                    child<QLineEdit>(*dialog, "fileNameEdit")->setText("sub");
                static_cast<QDialog *>(dialog)->accept(); // validates like the button
            }
            answered = true;
        });
        QTest::mouseClick(add, Qt::LeftButton);
        QVERIFY(answered);
        QCOMPARE(caption, QString("Укажите путь к клиентским библиотекам"));
        QVERIFY(directoriesOnly);
    }

    QStringList expected;
    for (const QString &path : added)
        expected.append(QDir(dir.path() + path).absolutePath());
    QCOMPARE(items(window), expected);
}

void TestBehaviour::dialogInUsersLanguage_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QStringList>("expected"); // look-in label, accept and cancel buttons

    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QStringList inRussian{"Перейти к:", "&Выбрать", "Отмена"};
    QTest::newRow("Russian, Qt's translations")
        << russian << App::qtTranslationDirectories().first() << inRussian;
    QTest::newRow("Russian, built in") << russian << ":/translations" << inRussian;
    QTest::newRow("English, built in")
        << QLocale(QLocale::English, QLocale::UnitedStates) << ":/translations"
        << QStringList{"Look in:", "&Choose", "Cancel"};
}

void TestBehaviour::dialogInUsersLanguage()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, directory);
    QFETCH(QStringList, expected);

    if (locale.language() == QLocale::Russian && !QFile::exists(directory + "/qtbase_ru.qm"))
        QSKIP("Qt's Russian translation is not there");
    const QTranslator *translator = App::installQtTranslation(locale, {directory});
    const auto removeTranslator = qScopeGuard([translator] { delete translator; });
    Orvane window("/nowhere", {});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QStringList texts;
    answerDialog([&texts](QFileDialog *dialog) {
        const auto *buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
        texts << dialog->findChild<QLabel *>("lookInLabel")->text()
              << buttons->button(QDialogButtonBox::Open)->text()
              << buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    QTest::mouseClick(window.findChild<QPushButton *>("pushButton_PathO"), Qt::LeftButton);
    QCOMPARE(texts, expected);
}

void TestBehaviour::startButton_data()
{
    QTest::addColumn<QString>("inherited"); // null: LD_LIBRARY_PATH unset
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("unset, empty list") << QString() << QStringList() << QStringList() << "";
    QTest::newRow("set with blanks, items trimmed")
        << " /usr/lib " << QStringList{"/usr/local/lib", " /opt/x "} << QStringList{"a"}
        << "/usr/lib:/usr/local/lib:/opt/x";
    QTest::newRow("empty item left out, argument with a blank")
        << QString() << QStringList{"/a", "", "/b"} << QStringList{"a b", "c"} << "/a:/b";
    QTest::newRow("Cyrillic, empty and quoted arguments")
        << "" << QStringList{"/opt/клиент"} << QStringList{"--ключ", "", "say \"hi\""}
        << "/opt/клиент";
}

void TestBehaviour::startButton()
{
    QFETCH(QString, inherited);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The installer runs in the current directory, the working directory.
    QVERIFY(QDir::setCurrent(dir.path()));
    if (inherited.isNull())
        qunsetenv("LD_LIBRARY_PATH");
    else
        qputenv("LD_LIBRARY_PATH", inherited.toLocal8Bit());

    Orvane window(dir.path(), arguments);
    child<QListWidget>(window, "listWidget_Paths")->addItems(paths);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(child<QPushButton>(window, "pushButton_start"), Qt::LeftButton);

    QVERIFY(!window.isVisible());
    QCOMPARE(readFile(dir.filePath("libpath")), LibPath::write(paths, false));
    const QJsonObject record = waitForRecord(dir.path());
    QVERIFY(!record.isEmpty());
    QCOMPARE(recordedArguments(record), arguments);
    QVERIFY(record.value("LD_LIBRARY_PATH").isString());
    QCOMPARE(record.value("LD_LIBRARY_PATH").toString(), expected);
    QCOMPARE(QFileInfo(record.value("cwd").toString()).canonicalFilePath(),
             QFileInfo(dir.path()).canonicalFilePath());
}

void TestBehaviour::startButtonFailedSave()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString workDir = dir.filePath("work");
    const QString laterDir = dir.filePath("later");
    QVERIFY(QDir().mkpath(workDir + "/libpath"));
    QVERIFY(QDir().mkpath(laterDir));
    QVERIFY(QDir::setCurrent(workDir));

    Orvane window(workDir, {"x"});
    child<QListWidget>(window, "listWidget_Paths")->addItem("/first");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *start = child<QPushButton>(window, "pushButton_start");
    QTest::mouseClick(start, Qt::LeftButton);

    QVERIFY(window.isVisible());
    QVERIFY(QToolTip::isVisible());
    QVERIFY(QToolTip::text().startsWith("[saveLibPaths]Невозможно сохранить настройки\n"));
    QCOMPARE(QToolTip::text(), window.lastErrorText());
    QVERIFY(QFileInfo(workDir + "/libpath").isDir());

    // Once the obstacle is gone a second press saves and starts; the installer
    // now runs elsewhere, so a record in the working directory could only
    // come from the first press.
    QVERIFY(QDir(workDir + "/libpath").removeRecursively());
    QVERIFY(QDir::setCurrent(laterDir));
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(readFile(workDir + "/libpath"), QByteArray("\npath = /first\nshow = 1\n"));
    QVERIFY(!waitForRecord(laterDir).isEmpty());
    QVERIFY(!QFile::exists(workDir + "/Hultrex-received.json"));
}

// An installer that cannot be started is said in a tooltip, and the window
// stays open; the settings are saved all the same.
void TestBehaviour::startButtonInstallerMissing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(QFile::remove(m_installer));
    const auto restore = qScopeGuard([this] { QFile::copy(STANDIN_BINARY, m_installer); });

    Orvane window(dir.path(), {"x"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(child<QPushButton>(window, "pushButton_start"), Qt::LeftButton);

    QVERIFY(window.isVisible());
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), "[startInstaller]Невозможно запустить установщик " + m_installer +
                                   "\nNo such file or directory");
    QCOMPARE(QToolTip::text(), window.lastErrorText());
    QVERIFY(QFile::exists(dir.filePath("libpath")));
}

QTEST_MAIN(TestBehaviour)
#include "tst_behaviour.moc"
