#include "update/errorreport.h"

#include "installation/installation.h"

#include <QDebug>
#include <QFile>

namespace Update {

QString missingSourceMessage(const QString &sourcePath)
{
    return QStringLiteral("Файл %0 не существует.").arg(sourcePath);
}

QString cannotRemoveMessage(const QString &targetPath, const QString &reason)
{
    return QStringLiteral("Файл %0 не может быть удален. ").arg(targetPath) + reason;
}

QString cannotCopyMessage(const QString &sourcePath, const QString &reason)
{
    return QStringLiteral("Файл %0 не может быть скопирован. ").arg(sourcePath) + reason;
}

QString otherUpdateMessage(const QString &workDir)
{
    return QStringLiteral("Другое обновление уже выполняется в %0.").arg(workDir);
}

QString errorFilePath(const QString &workDir)
{
    return workDir + QLatin1String("/Orvane.err");
}

QByteArray errorFileContent(const QStringList &errors)
{
    return errors.join(QLatin1String("\r\n")).toLocal8Bit();
}

Installation::ExitCode writeErrorFile(const QString &path, const QStringList &errors)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        Installation::logError("Error. Can't open err file ", file.errorString());
        return Installation::CannotOpenErrorFile;
    }
    file.write(errorFileContent(errors));
    // QFile keeps a small write in its buffer, so a full disk shows only when
    // the buffer goes out; close() could not report it any more.
    file.flush();
    if (file.error() != QFileDevice::NoError) {
        Installation::logError("Error. Can't write to err file ", file.errorString());
        file.close();
        return Installation::CannotWriteErrorFile;
    }
    file.close();
    return Installation::Ok;
}

} // namespace Update
