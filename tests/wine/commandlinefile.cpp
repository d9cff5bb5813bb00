// Host-side helper of the Windows check: writes what Orvane hands the hidden
// interpreter on Windows into two files, as UTF-16LE without a final NUL,
// for the test driver that runs under Wine: the deferred-copy command line,
// and the variables that carry the paths as an environment block. Writes the
// reports the interpreter puts in place, as Orvane does (a path on Wine's
// drive Z: is the same path here). Prints the line's length in UTF-16 code
// units.
// Usage: commandlinefile LINE VARIABLES RESTART START-DIRECTORY ERROR-FILE SYSTEM-DIRECTORY
//        WINDOWS-DIRECTORY [TARGET SOURCE]...

#include "platform/process.h"
#include "update/commandchain.h"
#include "update/deferredcopy.h"
#include "update/errorreport.h"
#include "update/shellchain.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

static bool writeUtf16(const QString &path, const QString &text)
{
    QByteArray bytes;
    for (const QChar unit : text) {
        bytes.append(static_cast<char>(unit.unicode() & 0xff));
        bytes.append(static_cast<char>(unit.unicode() >> 8));
    }
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.flush();
}

int main(int argc, char *argv[])
{
    if (argc < 8 || argc % 2 == 1) {
        std::fprintf(stderr,
                     "usage: %s LINE VARIABLES RESTART START-DIRECTORY ERROR-FILE "
                     "SYSTEM-DIRECTORY WINDOWS-DIRECTORY [TARGET SOURCE]...\n",
                     argv[0]);
        return 2;
    }
    Update::DeferredCopy copy;
    for (int i = 8; i + 1 < argc; i += 2)
        copy.copies.append({QString::fromLocal8Bit(argv[i]), QString::fromLocal8Bit(argv[i + 1])});
    copy.restartProgram = QString::fromLocal8Bit(argv[3]);
    copy.startDirectory = QString::fromLocal8Bit(argv[4]);
    copy.errorFile = QString::fromLocal8Bit(argv[5]);
    const qint64 chain = QCoreApplication::applicationPid();
    // Named for this machine, as Orvane names them.
    const QString host = Update::deferredCopyHost();
    const QString commandLine = Update::deferredCopyCommandLine(copy.copies.size(), false);
    QProcessEnvironment variables;
    for (const auto &variable : Update::deferredCopyVariables(
             copy, chain, QString::fromLocal8Bit(argv[6]), QString::fromLocal8Bit(argv[7]), host))
        variables.insert(variable.first, variable.second);
    for (const auto &report : Update::deferredCopyReports(copy, chain, host)) {
        if (Update::writeErrorFile(QString(report.first).remove(QStringLiteral("Z:")),
                                   report.second) != Installation::Ok)
            return 1;
    }

    if (!writeUtf16(QString::fromLocal8Bit(argv[1]), commandLine) ||
        !writeUtf16(QString::fromLocal8Bit(argv[2]), Platform::environmentBlock(variables)))
        return 1;
    std::printf("%d\n", static_cast<int>(commandLine.size()));
    return 0;
}
