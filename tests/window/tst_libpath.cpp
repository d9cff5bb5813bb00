// The "libpath" settings file: reading, the exact bytes written, round trips
// and failed saves, through the window's own load and save operations.

#include "testsupport.h"
#include "window/libpath.h"
#include "window/orvane.h"

#include <QtTest>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

class TestLibPath : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
    void load_data();
    void load();
    void loadTwiceAppends();
    void save_data();
    void save();
    void roundTrip_data();
    void roundTrip();
    void nonUtf8Locale();
    void failedSave();
    void libraryPathValue_data();
    void libraryPathValue();

private:
    static QListWidget *list(Orvane &window);
    static QCheckBox *box(Orvane &window);
    static QStringList items(Orvane &window);
    static void setItems(Orvane &window, const QStringList &paths);
};

QListWidget *TestLibPath::list(Orvane &window)
{
    return child<QListWidget>(window, "listWidget_Paths");
}

QCheckBox *TestLibPath::box(Orvane &window)
{
    return child<QCheckBox>(window, "checkBox_ask");
}

QStringList TestLibPath::items(Orvane &window)
{
    return listTexts(list(window));
}

void TestLibPath::setItems(Orvane &window, const QStringList &paths)
{
    list(window)->clear();
    list(window)->addItems(paths);
}

void TestLibPath::lookup_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("values");

    const QStringList lines{"", "path = /a", "Path=/b", "show = 1", "SHOW = 0", "paths = /c"};
    QTest::newRow("first of several") << "show" << lines << "1" << QStringList{"1", "0"};
    QTest::newRow("key in capitals") << "PATH" << lines << "/a" << QStringList{"/a", "/b"};
    QTest::newRow("none") << "workpath" << lines << "" << QStringList();
    QTest::newRow("no lines") << "path" << QStringList() << "" << QStringList();
    QTest::newRow("line ends after the key")
        << "path" << QStringList{"path", "path \t"} << "" << QStringList();
    QTest::newRow("empty value") << "path" << QStringList{"path =", "path = x"} << ""
                                 << QStringList{"", "x"};
    QTest::newRow("white space before the key, tab after it")
        << "path" << QStringList{" \t path\t\t= /opt/lib \r"} << "/opt/lib"
        << QStringList{"/opt/lib"};
    QTest::newRow("other character before =")
        << "path" << QStringList{"path: = /a", "path /a = b"} << "" << QStringList();
}

void TestLibPath::lookup()
{
    QFETCH(QString, key);
    QFETCH(QStringList, lines);
    QFETCH(QString, value);
    QFETCH(QStringList, values);

    QCOMPARE(LibPath::lookupValue(key, lines), value);
    QCOMPARE(LibPath::lookupValues(key, lines), values);
}

void TestLibPath::load_data()
{
    // null: no file
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expectedItems");
    QTest::addColumn<bool>("show");

    const QStringList usual{"/usr/local/lib"};
    QTest::newRow("no file") << QByteArray() << usual << true;
    QTest::newRow("empty file") << QByteArray("") << usual << true;
    QTest::newRow("show = 0 alone") << QByteArray("show = 0\n") << usual << false;
    QTest::newRow("capitals, no blanks") << QByteArray("SHOW=0") << usual << false;
    QTest::newRow("tabs and a trailing blank") << QByteArray("show\t=\t0 ") << usual << false;
    QTest::newRow("first show counts") << QByteArray("show = 1\nshow = 0\n") << usual << true;
    QTest::newRow("show = 00") << QByteArray("show = 00") << usual << true;
    QTest::newRow("show = no") << QByteArray("show = no") << usual << true;
    QTest::newRow("show = nothing") << QByteArray("show =\n") << usual << true;
    QTest::newRow("empty path line") << QByteArray("path = \n") << QStringList{""} << true;
    QTest::newRow("blanks and tabs around path")
        << QByteArray("  path\t=\t/opt/lib  \n") << QStringList{"/opt/lib"} << true;
    QTest::newRow("= inside the value") << QByteArray("path = /a=b") << QStringList{"/a=b"} << true;
    QTest::newRow("not the path key") << QByteArray("pathx = /a\npath /a\n") << usual << true;
    QTest::newRow("order kept, any case")
        << QByteArray("\nPATH = /b\nshow = 1\npath = /a\nPath = /c\n")
        << QStringList{"/b", "/a", "/c"} << true;
    QTest::newRow("CR LF") << QByteArray("\r\npath = /a\r\npath = /b\r\nshow = 0\r\n")
                           << QStringList{"/a", "/b"} << false;
    QTest::newRow("NUL byte ends the file")
        << QByteArray("path = /a\n\0path = /b\nshow = 0\n", 31) << QStringList{"/a"} << true;
    QTest::newRow("UTF-8") << QByteArray("path = /opt/клиент\n") << QStringList{"/opt/клиент"}
                           << true;
    QTest::newRow("UTF-8 byte order mark")
        << QByteArray("\xEF\xBB\xBFpath = /a\nshow = 0\n") << QStringList{"/a"} << false;
}

void TestLibPath::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expectedItems);
    QFETCH(bool, show);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("libpath");
    if (!content.isNull())
        QVERIFY(writeFile(path, content));

    Orvane window(dir.path(), {});
    QCOMPARE(window.loadLibPaths(), show);
    QCOMPARE(items(window), expectedItems);
    QCOMPARE(box(window)->checkState(), show ? Qt::Unchecked : Qt::Checked);
    // Reading never writes.
    QCOMPARE(readFile(path), content.isNull() ? QByteArray() : content);
}

void TestLibPath::loadTwiceAppends()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("libpath"), "path = /a\npath = /b\n"));

    Orvane window(dir.path(), {});
    list(window)->addItem("/kept");
    QVERIFY(window.loadLibPaths());
    QVERIFY(window.loadLibPaths());
    QCOMPARE(items(window), QStringList({"/kept", "/a", "/b", "/a", "/b"}));
}

void TestLibPath::save_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty list") << QStringList() << false << QByteArray("\nshow = 1\n");
    QTest::newRow("two, one with blanks")
        << QStringList{"/usr/local/lib", "  /opt/oracle/lib\t"} << false
        << QByteArray("\npath = /usr/local/lib\npath = /opt/oracle/lib\nshow = 1\n");
    QTest::newRow("box checked") << QStringList{"/a"} << true
                                 << QByteArray("\npath = /a\nshow = 0\n");
    QTest::newRow("empty item") << QStringList{"", "/b"} << false
                                << QByteArray("\npath = \npath = /b\nshow = 1\n");
    QTest::newRow("Cyrillic as UTF-8")
        << QStringList{"/opt/библиотеки"} << false
        << QByteArray("\npath = /opt/\xD0\xB1\xD0\xB8\xD0\xB1\xD0\xBB\xD0\xB8\xD0\xBE\xD1\x82"
                      "\xD0\xB5\xD0\xBA\xD0\xB8\nshow = 1\n");
    // A line feed inside an entry would turn its rest into a setting of its
    // own, here one that hides the window for good.
    QTest::newRow("line feed inside an entry")
        << QStringList{"/tmp/x\nshow = 0", "/b"} << false << QByteArray("\npath = /b\nshow = 1\n");
}

void TestLibPath::save()
{
    QFETCH(QStringList, paths);
    QFETCH(bool, checked);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray old = "path = /old/entry/that/is/longer/than/the/new/content\nshow = 0\n";
    QVERIFY(writeFile(dir.filePath("libpath"), old));

    Orvane window(dir.path(), {});
    setItems(window, paths);
    box(window)->setChecked(checked);
    QVERIFY(window.saveLibPaths());
    QCOMPARE(readFile(dir.filePath("libpath")), expected);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"libpath"});
}

void TestLibPath::roundTrip_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QStringList>("expectedItems");

    QTest::newRow("empty list gives the default")
        << QStringList() << false << QStringList{"/usr/local/lib"};
    QTest::newRow("trimmed") << QStringList{" /a ", "\t/b"} << false << QStringList{"/a", "/b"};
    QTest::newRow("Cyrillic, box checked")
        << QStringList{"/opt/Клиент Oracle/lib", "/usr/lib"} << true
        << QStringList{"/opt/Клиент Oracle/lib", "/usr/lib"};
    QTest::newRow("= and key-like text")
        << QStringList{"/a=b", "show = 0"} << false << QStringList{"/a=b", "show = 0"};
}

void TestLibPath::roundTrip()
{
    QFETCH(QStringList, paths);
    QFETCH(bool, checked);
    QFETCH(QStringList, expectedItems);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        Orvane window(dir.path(), {});
        setItems(window, paths);
        box(window)->setChecked(checked);
        QVERIFY(window.saveLibPaths());
    }
    Orvane window(dir.path(), {});
    QCOMPARE(window.loadLibPaths(), !checked);
    QCOMPARE(items(window), expectedItems);
    QCOMPARE(box(window)->isChecked(), checked);
}

void TestLibPath::nonUtf8Locale()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QTextCodec *codec = QTextCodec::codecForName("Windows-1251");
    if (!codec)
        QSKIP("this Qt has no Windows-1251 codec");
    QTextCodec *previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(codec);
    const auto restore = qScopeGuard([previous] { QTextCodec::setCodecForLocale(previous); });

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = "/opt/Клиент/lib";
    {
        Orvane window(dir.path(), {});
        setItems(window, {path});
        QVERIFY(window.saveLibPaths());
    }
    // Written as UTF-8 and read back unaltered although the locale differs ...
    QVERIFY(readFile(dir.filePath("libpath")).contains(path.toUtf8()));
    {
        Orvane window(dir.path(), {});
        window.loadLibPaths();
        QCOMPARE(items(window), QStringList{path});
    }
    // ... and a file written by hand in the local encoding still reads right.
    QVERIFY(writeFile(dir.filePath("libpath"), "path = " + codec->fromUnicode(path) + "\r\n"));
    Orvane window(dir.path(), {});
    window.loadLibPaths();
    QCOMPARE(items(window), QStringList{path});
    // The installer's search path keeps what this code page cannot hold.
    QCOMPARE(LibPath::libraryPathValue("D:\\Müller\\odbc", {"E:\\客户端"}),
             QString("D:\\Müller\\odbc:E:\\客户端"));
#else
    QSKIP("the locale's codec cannot be chosen in Qt 6");
#endif
}

// The working directory is a file: the window keeps its items and says why.
void TestLibPath::failedSave()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString workDir = dir.filePath("file");
    QVERIFY(writeFile(workDir, QByteArray()));

    Orvane window(workDir, {});
    setItems(window, {"/a"});
    QVERIFY(!window.saveLibPaths());
    const QString prefix = QString::fromUtf8("[saveLibPaths]Невозможно сохранить настройки\n");
    QVERIFY2(window.lastErrorText().startsWith(prefix), qPrintable(window.lastErrorText()));
    QVERIFY(window.lastErrorText().size() > prefix.size()); // the reason follows
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"file"});
    QCOMPARE(items(window), QStringList{"/a"});
}

void TestLibPath::libraryPathValue_data()
{
    QTest::addColumn<QString>("inherited");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing at all") << QString() << QStringList() << "";
    QTest::newRow("inherited only, trimmed") << " /usr/lib " << QStringList() << "/usr/lib";
    QTest::newRow("inherited and items, all trimmed")
        << " /usr/lib " << QStringList{"/usr/local/lib", " /opt/x "}
        << "/usr/lib:/usr/local/lib:/opt/x";
    QTest::newRow("empty item in the middle")
        << QString() << QStringList{"/a", "", "/b"} << "/a:/b";
    QTest::newRow("empty first item") << QString() << QStringList{" ", "/b"} << "/b";
    QTest::newRow("only empty items") << "" << QStringList{"", "\t"} << "";
    QTest::newRow("Cyrillic") << "/usr/lib" << QStringList{"/opt/клиент"} << "/usr/lib:/opt/клиент";
    QTest::newRow("blank and empty inherited entries")
        << " /usr/lib: " << QStringList{"/opt/x"} << "/usr/lib:/opt/x";
    QTest::newRow("empty inherited entries in the middle and at the start")
        << ":/a::\t:/b" << QStringList{"/c"} << "/a:/b:/c";
}

void TestLibPath::libraryPathValue()
{
    QFETCH(QString, inherited);
    QFETCH(QStringList, paths);
    QFETCH(QString, expected);

    QCOMPARE(LibPath::libraryPathValue(inherited, paths), expected);
}

QTEST_MAIN(TestLibPath)
#include "tst_libpath.moc"
