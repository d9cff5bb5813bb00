#include "update/stagedfile.h"

#include "platform/files.h"
#include "update/permissions.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

namespace Update {

namespace {

constexpr int randomLength = 6;

QString randomLetters()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString random;
    for (int i = 0; i < randomLength; ++i)
        random +=
            QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
    return random;
}

// Copies what is left of source into the staged file through this process.
bool copyThrough(QFile &source, int staged, QString *reason)
{
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(block.data(), block.size());
        if (read < 0) {
            *reason = source.errorString();
            return false;
        }
        if (read == 0)
            return true;
        if (!Platform::writeAll(staged, block.constData(), read, reason))
            return false;
    }
}

// Creates a new staged file for the target's file name in directory; returns
// its descriptor, its path in *path and the descriptor that holds its lock
// in *lock, or -1.
int createStaged(const QString &directory, const QString &targetFileName, QString *path, int *lock,
                 QString *reason)
{
    // Another run's file, or one a killed run left, may have the name: a
    // few other names are tried. So are they when a run of another machine
    // took the new file for a leftover before it was locked.
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = directory + QLatin1Char('/') + stagedFileName(targetFileName, randomLetters());
        bool nameTaken = false;
        const int descriptor = Platform::createNewFile(*path, &nameTaken, reason);
        if (descriptor < 0 && !nameTaken)
            return -1;
        if (descriptor < 0)
            continue;
        bool lost = false;
        *lock = Platform::holdFileLock(descriptor, *path, &lost);
        if (!lost)
            return descriptor;
        QString ignored;
        Platform::closeFile(descriptor, &ignored);
    }
    return -1;
}

// What stands between the leading "." and infix in a name of the form
// "." + name + infix + six random letters or digits; a null text for a name
// of another form.
QString namedPart(const QString &fileName, const char *infix)
{
    const QLatin1String infixText(infix);
    const int infixAt = fileName.size() - randomLength - infixText.size();
    if (!fileName.startsWith(QLatin1Char('.')) || infixAt < 2 ||
        QStringView(fileName).mid(infixAt, infixText.size()) != infixText)
        return QString();
    for (const QChar c : QStringView(fileName).right(randomLength)) {
        if (c.unicode() > 0x7f || !c.isLetterOrNumber())
            return QString();
    }
    return fileName.mid(1, infixAt - 1);
}

// Gives the staged file the permissions it is to have as the target
// (permissions.h), whatever the umask and the new version's own mode. Whether
// that works does not matter: the file was created for its owner alone.
void givePermissions(const QString &stagedPath, const QString &sourcePath,
                     const QString &targetPath, const QString &directory)
{
    const QFileInfo target(targetPath);
    const std::optional<unsigned> replaced = target.isFile() && !target.isSymLink()
                                                 ? Platform::permissionBits(targetPath)
                                                 : std::nullopt;
    const unsigned mode =
        installedFileMode(Platform::permissionBits(sourcePath).value_or(0), replaced,
                          Platform::permissionBits(directory).value_or(0));
    QString ignored;
    Platform::setPermissionBits(stagedPath, mode, &ignored);
}

} // namespace

bool isStagedFileName(const QString &fileName)
{
    return !namedPart(fileName, stagedInfix).isNull();
}

QString asideFileName(const QString &targetFileName)
{
    // File systems allow 255 UTF-16 units (Windows) or bytes (Linux) in a
    // name. The target's name stays whole, so that the next run can give it
    // back should this one be killed between the two renames.
    QString name = QLatin1Char('.') + targetFileName + QLatin1String(asideInfix) + randomLetters();
    return qMax(name.size(), QFile::encodeName(name).size()) <= 255 ? name : QString();
}

QString asideTargetName(const QString &fileName)
{
    return namedPart(fileName, asideInfix);
}

QString stagedFileName(const QString &targetFileName, const QString &random)
{
    // At most this much of the target's name: 64 UTF-16 units take at most
    // 192 bytes in UTF-8, so the staged name stays within the 255 bytes or
    // units that file systems allow, however long the target's name is.
    constexpr int keptUnits = 64;
    int kept = qMin(targetFileName.size(), keptUnits);
    if (kept < targetFileName.size() && targetFileName.at(kept - 1).isHighSurrogate())
        --kept;
    return QLatin1Char('.') + targetFileName.left(kept) + QLatin1String(stagedInfix) + random;
}

QString copyToStaged(const QString &sourcePath, const QString &directory,
                     const QString &targetFileName, QString *reason, int *lock)
{
    *lock = -1;
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        *reason = source.errorString();
        return QString();
    }
    QString path;
    int staged = createStaged(directory, targetFileName, &path, lock, reason);
    if (staged < 0)
        return QString();
    auto removeStaged = qScopeGuard([&staged, &path, lock] {
        QString ignored;
        if (staged >= 0)
            Platform::closeFile(staged, &ignored);
        QFile::remove(path);
        if (*lock >= 0)
            Platform::closeFile(*lock, &ignored);
        *lock = -1;
    });

    switch (Platform::copyContent(source.handle(), staged, reason)) {
    case Platform::KernelCopy::Done:
        break;
    case Platform::KernelCopy::Failed:
        return QString();
    case Platform::KernelCopy::Unsupported:
        if (!copyThrough(source, staged, reason))
            return QString();
        break;
    }
    // Windows renames no file that is open: the file is closed before the
    // pass gives it the target's name.
    const bool closed = Platform::closeFile(staged, reason);
    staged = -1;
    if (!closed)
        return QString();
    givePermissions(path, sourcePath, directory + QLatin1Char('/') + targetFileName, directory);
    removeStaged.dismiss();
    return path;
}

} // namespace Update
