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
    QString ignored;
    if (mode && directory && reportFileMode(*mode, *directory) != (*mode & 07777))
        Platform::setPermissionBits(path, reportFileMode(*mode, *directory), &ignored);
}

} // namespace

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

QString otherUpdateMessage(const QString &workDir, const QString &lockPath, const QString &host,
                           qint64 pid)
{
    // All at once, so that a place marker in a path stays text.
    if (pid == 0)
        return otherUpdateMessage(workDir) + QStringLiteral(" Файл блокировки: %1.").arg(lockPath);
    return otherUpdateMessage(workDir) +
           QStringLiteral(" Файл блокировки: %1, компьютер %2, процесс %3.")
               .arg(lockPath, host, QString::number(pid));
}

QString cannotRestartMessage(const QString &programPath, const QString &reason)
{
    return QStringLiteral("Программа %0 не может быть запущена. ").arg(programPath) + reason;
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
    limitPermissions(path);
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
