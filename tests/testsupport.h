#ifndef ORVANE_TESTSUPPORT_H
#define ORVANE_TESTSUPPORT_H

#include <QByteArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A temporary installation directory holding a copy of a built program and
// the stand-in installer "Hultrex", for running the program as a real process.
class Installation
{
public:
    // Copies program (a path to a built executable) into the new directory.
    explicit Installation(const QString &program = QStringLiteral(ORVANE_BINARY));

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString programPath() const { return m_programPath; }
    QString workDir() const { return path() + QStringLiteral("/workdir"); }

    // Copies a built executable into the installation under name.
    bool addExecutable(const QString &source, const QString &name);
    // Writes a file below the installation, creating its directories.
    bool writeFile(const QString &relativePath, const QByteArray &content);

    struct Result
    {
        bool finished = false;
        int exitCode = -1;
        QByteArray output; // standard output and error, as a user would see them
    };

    // Runs the program with these arguments and waits for it to end. Its
    // standard output is a file, as a terminal would be: children that
    // inherit it may go on writing there after the program has ended.
    Result run(const QStringList &arguments,
               const QProcessEnvironment &environment = testEnvironment(),
               const QString &workingDirectory = QString(), const QStringList &wrapper = {});

    // Output written so far to the standard output file of the last run.
    QByteArray outputSoFar() const;

    // The system environment with the offscreen platform.
    static QProcessEnvironment testEnvironment();

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_outputDir;
    QString m_programPath;
    bool m_valid = false;
};

// The content of a file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// Writes a file whole, creating its directories. Returns whether it worked.
bool writeFile(const QString &path, const QByteArray &content);

// Polls for a file until it exists or timeoutMs has passed.
bool waitForFile(const QString &path, int timeoutMs = 10000);

// Waits for the stand-in's record "<name>-received.json" in dir and parses it.
QJsonObject waitForRecord(const QString &dir, const QString &name = QStringLiteral("Hultrex"),
                          int timeoutMs = 10000);

// An X display name (":N") that no server answers on, like one left behind
// by an SSH session whose forwarding died.
QString deadDisplay();

// The arguments of a stand-in record.
QStringList recordedArguments(const QJsonObject &record);

#endif // ORVANE_TESTSUPPORT_H
