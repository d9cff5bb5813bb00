#include "update/stagedfile.h"

#include "platform/files.h"
#include "update/permissions.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <cerrno>

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

// What QFile tells of its last failure: the system's text, without its code.
Platform::SystemError fileError(const QFile &file)
{
    return Platform::ownError(file.errorString());
}

// Copies what is left of source into the staged file through this process.
Platform::Failure copyThrough(QFile &source, int staged)
{
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(block.data(), block.size());
        if (read < 0)
            return fileError(source);
        if (read == 0)
            return std::nullopt;
        if (Platform::Failure failed = Platform::writeAll(staged, block.constData(), read))
            return failed;
    }
}

// An open staged file: its descriptor, and the one that holds its lock.
struct OpenStaged
{
    int descriptor = -1;
    int lock = -1;
};

// Creates a new staged file for the target's file name in directory, its
// path in *path.
Platform::Result<OpenStaged> createStaged(const QString &directory, const QString &targetFileName,
                                          QString *path)
{
    // Another run's file, or one a killed run left, may have the name: a
    // few other names are tried. So are they when a run of another machine
    // took the new file for a leftover before it was locked.
    Platform::SystemError latest;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = directory + QLatin1Char('/') + stagedFileName(targetFileName, randomLetters());
        const Platform::Result<int> created = Platform::createNewFile(*path);
        if (!created.ok() && !Platform::isNameTaken(created.error()))
            return created.error();
        if (!created.ok()) {
            latest = created.error();
            continue;
        }
        bool lost = false;
        const int lock = Platform::holdFileLock(created.value(), *path, &lost);
        if (!lost)
            return OpenStaged{created.value(), lock};
        // Another run took it for a leftover: the name is no longer ours.
        latest = Platform::systemError(ENOENT);
        (void)Platform::closeFile(created.value());
    }
    return latest;
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
    (void)Platform::setPermissionBits(stagedPath, mode);
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

Platform::Result<StagedFile> copyToStaged(const QString &sourcePath, const QString &directory,
                                          const QString &targetFileName)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return fileError(source);
    QString path;
    const Platform::Result<OpenStaged> created = createStaged(directory, targetFileName, &path);
    if (!created.ok())
        return created.error();
    int staged = created.value().descriptor;
    const int lock = created.value().lock;
    auto removeStaged = qScopeGuard([&staged, &path, lock] {
        if (staged >= 0)
            (void)Platform::closeFile(staged);
        QFile::remove(path);
        if (lock >= 0)
            (void)Platform::closeFile(lock);
    });

    const Platform::Result<Platform::KernelCopy> copied =
        Platform::copyContent(source.handle(), staged);
    if (!copied.ok())
        return copied.error();
    if (copied.value() == Platform::KernelCopy::Unsupported) {
        if (const Platform::Failure failed = copyThrough(source, staged))
            return *failed;
    }
    // Windows renames no file that is open: the file is closed before the
    // pass gives it the target's name.
    const Platform::Failure notClosed = Platform::closeFile(staged);
    staged = -1;
    if (notClosed)
        return *notClosed;
    givePermissions(path, sourcePath, directory + QLatin1Char('/') + targetFileName, directory);
    removeStaged.dismiss();
    return StagedFile{path, lock};
}

} // namespace Update
