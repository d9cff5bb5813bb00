// Host-side helper of the Windows check: writes the deferred-copy command
// line that Orvane builds for Windows into a file, as UTF-16LE without a NUL,
// for the test driver that runs under Wine. Prints its length in UTF-16 code
// units. Usage: commandlinefile OUTPUT RESTART [TARGET SOURCE]...

#include "update/deferredcopy.h"

#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s OUTPUT RESTART [TARGET SOURCE]...\n", argv[0]);
        return 2;
    }
    Update::CopyList copies;
    for (int i = 3; i + 1 < argc; i += 2)
        copies.append({QString::fromLocal8Bit(argv[i]), QString::fromLocal8Bit(argv[i + 1])});
    const QString commandLine =
        Update::deferredCopyCommandLine(copies, QString::fromLocal8Bit(argv[2]));

    QByteArray bytes;
    for (const QChar unit : commandLine) {
        bytes.append(static_cast<char>(unit.unicode() & 0xff));
        bytes.append(static_cast<char>(unit.unicode() >> 8));
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush())
        return 1;
    std::printf("%d\n", commandLine.size());
    return 0;
}
