// Feeds arbitrary bytes as the content of the "libpath" file through
// decoding, line splitting, the key lookups and the settings the window
// would load, and checks what every result must satisfy.

#include "window/libpath.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool isCleanValue(const QString &value)
{
    return value == value.trimmed() && !value.contains(QLatin1Char('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), int(size));

    // Decoding stops at the first NUL byte.
    const QString text = LibPath::decode(content);
    check(!text.contains(QChar(0)));
    const int nul = content.indexOf('\0');
    if (nul >= 0)
        check(LibPath::decode(content.left(nul)) == text);

    const QStringList lines = LibPath::splitLines(text);
    check(lines.join(QLatin1Char('\n')) == text);

    // A value found for a key is trimmed and a single line.
    const QString show = LibPath::lookupValue(QStringLiteral("show"), lines);
    check(isCleanValue(show));
    const QStringList paths = LibPath::lookupValues(QStringLiteral("path"), lines);
    for (const QString &path : paths)
        check(isCleanValue(path));
    if (!paths.isEmpty())
        check(LibPath::lookupValue(QStringLiteral("path"), lines) == paths.first());

    // The list the window would load: the stored paths, or the default.
    const LibPath::Settings settings = LibPath::read(content);
    check(settings.paths == (paths.isEmpty() ? QStringList{LibPath::defaultPath()} : paths));
    check(settings.showWindow == (show != QLatin1String("0")));

    // Saved again and read back, the settings come back unchanged.
    const LibPath::Settings again =
        LibPath::read(LibPath::write(settings.paths, !settings.showWindow));
    check(again.paths == settings.paths);
    check(again.showWindow == settings.showWindow);
    return 0;
}
