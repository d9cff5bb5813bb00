// Feeds arbitrary bytes as the content of the "workpath" file through the
// working-directory resolution and checks what every result must satisfy.

#include "app/startup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), int(size));
    const QString appDir = QStringLiteral("/opt/app");
    const QString path = Startup::resolveWorkDirPath(appDir, content);

    // Always a directory named workdir, with "/" as the only separator.
    if (!path.endsWith(QLatin1String("/workdir")) || path.contains(QLatin1Char('\\')))
        std::abort();
    // Nothing after a NUL byte counts.
    if (content.contains('\0') &&
        Startup::resolveWorkDirPath(appDir, content + QByteArrayLiteral("x/y\\z")) != path)
        std::abort();
    // A path that begins with a dot stays below the application directory's name.
    const QByteArray trimmed = content.trimmed();
    if (trimmed.startsWith('.') && !path.startsWith(appDir + QLatin1Char('/')))
        std::abort();
    return 0;
}
