#include "app/handover.h"
#include "app/startup.h"
#include "installation/installation.h"
#include "platform/process.h"

#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<QByteArray>)

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void resolveWorkDirPath_data();
    void resolveWorkDirPath();
    void isUpdateOption_data();
    void isUpdateOption();
    void appendListEntry_data();
    void appendListEntry();
    void installerArguments();
};

void TestStartup::resolveWorkDirPath_data()
{
    QTest::addColumn<std::optional<QByteArray>>("workpath");
    QTest::addColumn<QString>("expected");

    const auto content = [](const char *bytes) { return std::optional<QByteArray>(bytes); };
    const QByteArray nul(1, '\0');
    QTest::newRow("no file") << std::optional<QByteArray>() << "/opt/app/workdir";
    QTest::newRow("dot") << content(".") << "/opt/app/workdir";
    QTest::newRow("dot backslash upd") << content(".\\upd") << "/opt/app/upd/workdir";
    QTest::newRow("dot slash upd, trailing slash") << content("./upd/") << "/opt/app/upd/workdir";
    QTest::newRow("relative upd") << content("upd") << "upd/workdir";
    QTest::newRow("drive path with CR LF") << content("D:\\data\\\r\n") << "D:/data/workdir";
    QTest::newRow("drive root") << content("C:\\") << "C:/workdir";
    QTest::newRow("surrounding white space") << content(" \t/srv/upd \r\n\n") << "/srv/upd/workdir";
    QTest::newRow("several trailing separators") << content("/srv/upd/\\//") << "/srv/upd/workdir";
    QTest::newRow("inner backslashes") << content("/srv\\upd\\x") << "/srv/upd/x/workdir";
    QTest::newRow("root") << content("/") << "/workdir";
    QTest::newRow("empty") << content("") << "/workdir";
    QTest::newRow("white space only") << content(" \r\n\t ") << "/workdir";
    QTest::newRow("NUL ends the path")
        << std::optional<QByteArray>("/srv/upd" + nul + "/junk\n") << "/srv/upd/workdir";
    QTest::newRow("NUL first") << std::optional<QByteArray>(nul + "/srv") << "/workdir";
    QTest::newRow("parent of the application directory")
        << content("..\\upd") << "/opt/app/../upd/workdir";
    QTest::newRow("hidden directory name") << content(".cache") << "/opt/app/.cache/workdir";
}

void TestStartup::resolveWorkDirPath()
{
    QFETCH(std::optional<QByteArray>, workpath);
    QFETCH(QString, expected);
    QCOMPARE(Startup::resolveWorkDirPath(QStringLiteral("/opt/app"), workpath), expected);
}

void TestStartup::isUpdateOption_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<bool>("update");

    QTest::newRow("-r") << QByteArray("-r") << true;
    QTest::newRow("blanks around") << QByteArray(" -r ") << true;
    QTest::newRow("tab and line feed around") << QByteArray("\t-r\n") << true;
    QTest::newRow("capital") << QByteArray("-R") << false;
    QTest::newRow("-r2") << QByteArray("-r2") << false;
    QTest::newRow("--r") << QByteArray("--r") << false;
    QTest::newRow("r") << QByteArray("r") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("blank inside") << QByteArray("- r") << false;
}

void TestStartup::isUpdateOption()
{
    QFETCH(QByteArray, argument);
    QFETCH(bool, update);
    QCOMPARE(Startup::isUpdateOption(argument), update);
}

void TestStartup::appendListEntry_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("unset or empty: no separator")
        << QByteArray() << ':' << QByteArray("/opt/app/clientslibs");
    QTest::newRow("unix list") << QByteArray("/usr/bin:/bin") << ':'
                               << QByteArray("/usr/bin:/bin:/opt/app/clientslibs");
    QTest::newRow("windows list") << QByteArray("C:\\Windows") << ';'
                                  << QByteArray("C:\\Windows;/opt/app/clientslibs");
    QTest::newRow("list ending in separator kept as it is")
        << QByteArray("/bin:") << ':' << QByteArray("/bin::/opt/app/clientslibs");
    QTest::newRow("ends with the entry: unchanged")
        << QByteArray("/bin:/opt/app/clientslibs") << ':'
        << QByteArray("/bin:/opt/app/clientslibs");
    QTest::newRow("is the entry: unchanged")
        << QByteArray("/opt/app/clientslibs") << ';' << QByteArray("/opt/app/clientslibs");
    QTest::newRow("entry earlier in the list: appended")
        << QByteArray("/opt/app/clientslibs:/bin") << ':'
        << QByteArray("/opt/app/clientslibs:/bin:/opt/app/clientslibs");
    QTest::newRow("ends with a longer name: appended")
        << QByteArray("/x/opt/app/clientslibs") << ':'
        << QByteArray("/x/opt/app/clientslibs:/opt/app/clientslibs");
    QTest::newRow("ends with the entry after the other separator: appended")
        << QByteArray("C:\\bin:/opt/app/clientslibs") << ';'
        << QByteArray("C:\\bin:/opt/app/clientslibs;/opt/app/clientslibs");
}

void TestStartup::appendListEntry()
{
    QFETCH(QByteArray, list);
    QFETCH(char, separator);
    QFETCH(QByteArray, expected);
    QCOMPARE(Installation::appendListEntry(list, "/opt/app/clientslibs", separator), expected);
    // The same rule for lists held as text, whatever their characters.
    const QString prefix = QStringLiteral("C:\\工具\\bin;");
    QCOMPARE(Installation::appendListEntry(prefix + QString::fromUtf8(list),
                                           QStringLiteral("/opt/app/clientslibs"), separator),
             list.isEmpty() ? prefix + QLatin1Char(separator) + "/opt/app/clientslibs"
                            : prefix + QString::fromUtf8(expected));
}

void TestStartup::installerArguments()
{
    QCOMPARE(HandOver::installerArguments({}), QStringList());
    QCOMPARE(HandOver::installerArguments({QStringLiteral("Orvane")}), QStringList());
    const QStringList given{QStringLiteral("a b"), QString(), QStringLiteral("\"\\")};
    QCOMPARE(HandOver::installerArguments(QStringList{QStringLiteral("./Orvane")} + given), given);
    QCOMPARE(Installation::installerPath(QStringLiteral("/opt/app")),
             QStringLiteral("/opt/app/Hultrex") + Platform::executableSuffix());
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
