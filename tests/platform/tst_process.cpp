// Starting programs: arguments as bytes, the byte-exact start's report of a
// failure, and the environment as Windows takes it.

#include "platform/environment.h"
#include "platform/process.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

class TestProcess : public QObject
{
    Q_OBJECT

private slots:
    void argumentBytes_data();
    void argumentBytes();
    void failedSecondForkIsReported();
    void environmentBlock_data();
    void environmentBlock();
};

void TestProcess::argumentBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("escaped"); // false: decoded as the text it is

    QTest::newRow("ASCII") << QByteArray("a \"b\" \\c") << false;
    QTest::newRow("Cyrillic") << QByteArray("обновление") << false;
    QTest::newRow("Latin-1 byte") << QByteArray("caf\xe9") << true;
    QTest::newRow("bytes that look like an escape") << QByteArray("\xed\xb3\xa9") << true;
    QTest::newRow("valid and invalid together") << QByteArray("ж\xff") << true;
}

// Every argument survives the way to text and back, and one that is text in
// the locale's encoding is that text.
void TestProcess::argumentBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, escaped);
    const QString text = Platform::decodeArgument(bytes);
    QCOMPARE(Platform::encodeArgument(text), bytes);
    QCOMPARE(text == QString::fromUtf8(bytes), !escaped);
}

// The byte-exact start forks twice; when the second fork fails, nothing was
// started, and the caller must hear so.
void TestProcess::failedSecondForkIsReported()
{
    SKIP_UNLESS_CAN_DROP_PRIVILEGES();
    const QStringList escapedByte{QString(QChar(0xDCE9))};
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const pid_t child = ::fork();
    if (child == 0) {
        // Two processes for the user: this one and the start's first fork.
        const rlimit limit{2, 2};
        if (::setgid(unprivilegedId) != 0 || ::setuid(unprivilegedId) != 0 ||
            ::setrlimit(RLIMIT_NPROC, &limit) != 0)
            ::_exit(2);
        ::_exit(Platform::startDetached("/bin/true", escapedByte, environment) ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

void TestProcess::environmentBlock_data()
{
    QTest::addColumn<QStringList>("variables"); // NAME=VALUE
    QTest::addColumn<QString>("block");         // "|" stands for NUL

    QTest::newRow("empty: two NULs") << QStringList() << "||";
    QTest::newRow("ordered by name without regard to case, values kept whole")
        << QStringList{"b=2", "ORVANE_S1=C:/Обновление %OS%/a", "a=x=y"}
        << "a=x=y|b=2|ORVANE_S1=C:/Обновление %OS%/a||";
}

void TestProcess::environmentBlock()
{
    QFETCH(QStringList, variables);
    QFETCH(QString, block);
    QProcessEnvironment environment;
    for (const QString &variable : variables) {
        const int equals = variable.indexOf('=');
        environment.insert(variable.left(equals), variable.mid(equals + 1));
    }
    QCOMPARE(Platform::environmentBlock(environment), block.replace('|', QChar(0)));
}

QTEST_APPLESS_MAIN(TestProcess)
#include "tst_process.moc"
