// Host-side helper of the Windows check: writes what Orvane hands the hidden
// interpreter on Windows into two files, as UTF-16LE without a final NUL,
// for the test driver that runs under Wine: the deferred-copy command line,
// and the variables that carry the paths as an environment block. Prints the
// line's length in UTF-16 code units.
// Usage: commandlinefile LINE VARIABLES RESTART START-DIRECTORY [TARGET SOURCE]...

#include "platform/platform.h"
#include "update/deferredcopy.h"

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
    if (argc < 5 || argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: %s LINE VARIABLES RESTART START-DIRECTORY [TARGET SOURCE]...\n",
                     argv[0]);
        return 2;
    }
    Update::CopyList copies;
    for (int i = 5; i + 1 < argc; i += 2)
        copies.append({QString::fromLocal8Bit(argv[i]), QString::fromLocal8Bit(argv[i + 1])});
    const QString commandLine = Update::deferredCopyCommandLine(copies.size());
    QProcessEnvironment variables;
    const Update::VariableList list = Update::deferredCopyVariables(
        copies, QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
        QCoreApplication::applicationPid());
    for (const auto &variable : list)
        variables.insert(variable.first, variable.second);

    if (!writeUtf16(QString::fromLocal8Bit(argv[1]), commandLine) ||
        !writeUtf16(QString::fromLocal8Bit(argv[2]), Platform::environmentBlock(variables)))
        return 1;
    std::printf("%d\n", static_cast<int>(commandLine.size()));
    return 0;
}
