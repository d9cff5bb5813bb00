#include "update/replacement.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>

namespace Update {

namespace {

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

// Waits without a busy loop; no window is open, so nothing else is handled.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool removeWithRetries(QFile &target, int waitMs)
{
    for (int attempt = 0; attempt < removalAttempts; ++attempt) {
        // A target that went away meanwhile is as good as removed.
        if (target.remove() || !target.exists())
            return true;
        wait(waitMs);
    }
    return false;
}

// Copies source into staged, a new temporary file beside the target, so that
// the installed file is given up only once its new version is complete.
bool stage(QFile &source, QTemporaryFile &staged, QString *reason)
{
    if (!source.open(QIODevice::ReadOnly)) {
        *reason = source.errorString();
        return false;
    }
    if (!staged.open()) {
        *reason = staged.errorString();
        return false;
    }
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(block.data(), block.size());
        if (read < 0) {
            *reason = source.errorString();
            return false;
        }
        if (read == 0)
            break;
        if (staged.write(block.constData(), read) != read) {
            *reason = staged.errorString();
            return false;
        }
    }
    // Small writes stay in the buffer: only flush() shows a full disk.
    if (!staged.flush()) {
        *reason = staged.errorString();
        return false;
    }
    // The new version keeps the permissions it came with, and its owner may in
    // any case read, write and run it. Whether that works does not matter.
    staged.setPermissions(source.permissions() | QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ExeOwner);
    return true;
}

void replaceFile(const QString &name, const QString &appDir, const QString &workDir, int waitMs,
                 PassResult *result)
{
    QFile target(appDir + QLatin1Char('/') + name);
    QFile source(workDir + QLatin1Char('/') + name + QLatin1Char('_'));
    const QString targetPath = target.fileName();
    const QString sourcePath = source.fileName();

    if (!source.exists()) {
        result->errors.append(missingSourceMessage(sourcePath));
        return;
    }
    const auto postpone = [&](const QString &message) {
        result->errors.append(message);
        result->pending.append(qMakePair(targetPath, sourcePath));
    };

    // Only "/" separates directories in a name. When a directory cannot be
    // created, staging fails and reports it.
    const QString directory = targetPath.left(targetPath.lastIndexOf(QLatin1Char('/')));
    if (!target.exists() && !QDir(directory).exists())
        QDir().mkpath(directory);

    // Removed again by its destructor unless it was renamed into place, so no
    // staged file is left behind whatever fails.
    QTemporaryFile staged(directory + QLatin1String("/.Orvane-XXXXXX"));
    QString reason;
    if (!stage(source, staged, &reason)) {
        postpone(cannotCopyMessage(sourcePath, reason));
        return;
    }
    if (target.exists() && !removeWithRetries(target, waitMs)) {
        postpone(cannotRemoveMessage(targetPath, target.errorString()));
        return;
    }
    if (!staged.rename(targetPath)) {
        postpone(cannotCopyMessage(sourcePath, staged.errorString()));
        return;
    }
    // Under its new name the file is the installed one: the temporary file
    // object would otherwise remove it when it goes.
    staged.setAutoRemove(false);
}

} // namespace

PassResult replaceFiles(const QStringList &names, const QString &appDir, const QString &workDir,
                        int waitMs)
{
    PassResult result;
    for (const QString &name : names)
        replaceFile(name, appDir, workDir, waitMs, &result);
    return result;
}

} // namespace Update
