#include "update/errorreport.h"

#include "installation/installation.h"
#include "platform/files.h"
#include "update/paths.h"
#include "update/permissions.h"

#include <QDebug>

namespace Update {

namespace {

// Whatever the umask, the report is writable by no more users than its
// directory lets in (permissions.h). One another user owns stays as it is.
void limitPermissions(const QString &path)
{
    const std::optional<unsigned> mode = Platform::permissionBits(path);
    const std::optional<unsigned> directory = Platform::permissionBits(directoryOf(path));
    if (mode && directory && reportFileMode(*mode, *directory) != (*mode & 07777))
        (void)Platform::setPermissionBits(path, reportFileMode(*mode, *directory));
}

} // namespace

UpdateError missingSource(const QString &sourcePath)
{
    return {UpdateError::Kind::MissingSource, sourcePath, QString(), QString(), QString(), 0};
}

UpdateError cannotRemove(const QString &targetPath, const QString &reason)
{
    return {UpdateError::Kind::CannotRemove, targetPath, reason, QString(), QString(), 0};
}

UpdateError cannotCopy(const QString &sourcePath, const QString &reason)
{
    return {UpdateError::Kind::CannotCopy, sourcePath, reason, QString(), QString(), 0};
}

UpdateError otherUpdate(const QString &workDir, const QString &lockPath, const QString &host,
                        qint64 pid)
{
    return {UpdateError::Kind::OtherUpdate, workDir, QString(), lockPath, host, pid};
}

UpdateError unreadableRecord(const QString &recordPath)
{
    return {UpdateError::Kind::UnreadableRecord, recordPath, QString(), QString(), QString(), 0};
}

UpdateError cannotRestart(const QString &programPath, const QString &reason)
{
    return {UpdateError::Kind::CannotRestart, programPath, reason, QString(), QString(), 0};
}

UpdateError recorded(const QString &message)
{
    return {UpdateError::Kind::Recorded, QString(), message, QString(), QString(), 0};
}

QString errorMessage(const UpdateError &error)
{
    // Each at once, so that a place marker in a path stays text.
    switch (error.kind) {
    case UpdateError::Kind::MissingSource:
        return QStringLiteral("Файл %0 не существует.").arg(error.path);
    case UpdateError::Kind::CannotRemove:
        return QStringLiteral("Файл %0 не может быть удален. ").arg(error.path) + error.reason;
    case UpdateError::Kind::CannotCopy:
        return QStringLiteral("Файл %0 не может быть скопирован. ").arg(error.path) + error.reason;
    case UpdateError::Kind::OtherUpdate: {
        QString message = QStringLiteral("Другое обновление уже выполняется в %0.").arg(error.path);
        if (error.lockPath.isEmpty())
            return message;
        if (error.pid == 0)
            return message + QStringLiteral(" Файл блокировки: %1.").arg(error.lockPath);
        return message + QStringLiteral(" Файл блокировки: %1, компьютер %2, процесс %3.")
                             .arg(error.lockPath, error.host, QString::number(error.pid));
    }
    case UpdateError::Kind::UnreadableRecord:
        return QStringLiteral("Запись прерванного обновления %0 не может быть прочитана.")
            .arg(error.path);
    case UpdateError::Kind::CannotRestart:
        return QStringLiteral("Программа %0 не может быть запущена. ").arg(error.path) +
               error.reason;
    case UpdateError::Kind::Recorded:
        return error.reason;
    }
    return QString();
}

QStringList errorMessages(const QList<UpdateError> &errors)
{
    QStringList messages;
    for (const UpdateError &error : errors)
        messages.append(errorMessage(error));
    return messages;
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
    const Platform::Result<int> opened = Platform::openRegularFileForWriting(path);
    if (!opened.ok()) {
        Installation::logError("Error. Can't open err file ", opened.error().text);
        return Installation::CannotOpenErrorFile;
    }
    const int descriptor = opened.value();
    limitPermissions(path);
    // Written at once, so that a full disk or the file-size limit shows here,
    // with its reason.
    const QByteArray content = errorFileContent(errors);
    Platform::Failure failed = Platform::writeAll(descriptor, content.constData(), content.size());
    const Platform::Failure notClosed = Platform::closeFile(descriptor);
    if (!failed)
        failed = notClosed;
    if (failed) {
        Installation::logError("Error. Can't write to err file ", failed->text);
        return Installation::CannotWriteErrorFile;
    }
    return Installation::Ok;
}

} // namespace Update
