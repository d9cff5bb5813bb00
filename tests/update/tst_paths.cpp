// The three directory rules of the self-update side by side, on Linux, where
// only "/" separates directories for the system.

#include "update/paths.h"

#include <QtTest>

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void parts_data();
    void parts();
};

void TestPaths::parts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("created");   // createdDirectoryOf
    QTest::addColumn<QString>("directory"); // directoryOf
    QTest::addColumn<QString>("fileName");  // fileNameOf
    QTest::addColumn<QString>("prefix");    // directoryPrefixOf

    QTest::newRow("nested") << "/app/lib/a.so"
                            << "/app/lib"
                            << "/app/lib"
                            << "a.so"
                            << "/app/lib/";
    QTest::newRow("no separator") << "a.so"
                                  << ""
                                  << ""
                                  << "a.so"
                                  << "";
    QTest::newRow("in the root") << "/a.so"
                                 << ""
                                 << ""
                                 << "a.so"
                                 << "/";
    QTest::newRow("ends in a separator") << "/app/sub/"
                                         << "/app/sub"
                                         << "/app/sub"
                                         << ""
                                         << "/app/sub/";
    // A backslash is part of a file name here, yet the deferred copy's
    // command lines for Windows end their directory there.
    QTest::newRow("backslash only") << "plugins\\x.dll"
                                    << ""
                                    << ""
                                    << "plugins\\x.dll"
                                    << "plugins\\";
    QTest::newRow("backslash after the last slash") << "C:/w\\sub\\a.dll"
                                                    << "C:"
                                                    << "C:"
                                                    << "w\\sub\\a.dll"
                                                    << "C:/w\\sub\\";
    QTest::newRow("slash after the last backslash") << "C:\\w/a.dll"
                                                    << "C:\\w"
                                                    << "C:\\w"
                                                    << "a.dll"
                                                    << "C:\\w/";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << ""
                           << "";
}

void TestPaths::parts()
{
    QFETCH(QString, path);
    QFETCH(QString, created);
    QFETCH(QString, directory);
    QFETCH(QString, fileName);
    QFETCH(QString, prefix);

    QCOMPARE(Update::createdDirectoryOf(path), created);
    QCOMPARE(Update::directoryOf(path), directory);
    QCOMPARE(Update::fileNameOf(path), fileName);
    QCOMPARE(Update::directoryPrefixOf(path), prefix);
}

QTEST_APPLESS_MAIN(TestPaths)
#include "tst_paths.moc"
