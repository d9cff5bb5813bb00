#include "update/errorreport.h"

#include "installation/installation.h"
#include "platform/files.h"

#include <QDebug>

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

QString unreadableRecordMessage(const QString &recordPath)
{
    return QStringLiteral("Запись прерванного обновления %0 не может быть прочитана.")
        .arg(recordPath);
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
    // Never a FIFO (which would wait for a reader), a device or a file
    // elsewhere that a link names.
    QString reason;
    const int descriptor = Platform::openRegularFileForWriting(path, &reason);
    if (descriptor < 0) {
        Installation::logError("Error. Can't open err file ", reason);
        return Installation::CannotOpenErrorFile;
    }
    // Written at once, so that a full disk or the file-size limit shows here,
    // with its reason.
    const QByteArray content = errorFileContent(errors);
    const bool written =
        Platform::writeAll(descriptor, content.constData(), content.size(), &reason);
    QString closeReason;
    const bool closed = Platform::closeFile(descriptor, &closeReason);
    if (!written || !closed) {
        Installation::logError("Error. Can't write to err file ", written ? closeReason : reason);
        return Installation::CannotWriteErrorFile;
    }
    return Installation::Ok;
}

} // namespace Update
