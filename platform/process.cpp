#include "platform/process.h"

#include <algorithm>

namespace Platform {

QString environmentBlock(const QProcessEnvironment &environment)
{
    // Windows looks variables up without regard to case and expects the
    // block in that order.
    QStringList names = environment.keys();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QString block;
    for (const QString &name : names)
        block += name + QLatin1Char('=') + environment.value(name) + QChar(0);
    if (block.isEmpty())
        block += QChar(0);
    return block + QChar(0);
}

} // namespace Platform
