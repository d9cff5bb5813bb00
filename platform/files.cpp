#include "platform/files.h"

#include <QFile>
#include <QRandomGenerator>

namespace Platform {

bool writeFileInOneStep(const QString &path, const QByteArray &content, QString *reason)
{
    QString temporary;
    int descriptor = -1;
    for (int attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
        temporary =
            path + QStringLiteral(".orvane-%1")
                       .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        bool nameTaken = false;
        descriptor = createNewFile(temporary, &nameTaken, reason);
        if (descriptor < 0 && !nameTaken)
            return false;
    }
    if (descriptor < 0)
        return false;
    const bool written = writeAll(descriptor, content.constData(), content.size(), reason) &&
                         syncFile(descriptor, reason);
    QString closeReason;
    const bool closed = closeFile(descriptor, &closeReason);
    if (written && !closed)
        *reason = closeReason;
    if (written && closed && replaceFile(temporary, path, reason) == Replacement::Done)
        return true;
    QFile::remove(temporary);
    return false;
}

} // namespace Platform
