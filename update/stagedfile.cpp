#include "update/stagedfile.h"

#include "platform/files.h"

#include <QFile>
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

// Writes all of data; a short write is followed by another, which then
// meets the error and names it.
bool writeAll(QFile &file, const char *data, qint64 size, QString *reason)
{
    qint64 written = 0;
    while (written < size) {
        const qint64 now = file.write(data + written, size - written);
        if (now <= 0) {
            *reason = file.errorString();
            return false;
        }
        written += now;
    }
    return true;
}

// Copies what is left of source into destination through this process.
bool copyThrough(QFile &source, QFile &destination, QString *reason)
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
        if (!writeAll(destination, block.constData(), read, reason))
            return false;
    }
}

// Creates a new staged file for the target's file name in directory and
// opens it in staged; returns its path, or an empty text.
QString createStaged(const QString &directory, const QString &targetFileName, QFile *staged,
                     QString *reason)
{
    // Another run's file, or one a killed run left, may have the name: a
    // few other names are tried.
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString path =
            directory + QLatin1Char('/') + stagedFileName(targetFileName, randomLetters());
        bool nameTaken = false;
        const int descriptor = Platform::createNewFile(path, &nameTaken, reason);
        if (descriptor >= 0) {
            if (staged->open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
                return path;
            *reason = staged->errorString();
            QFile::remove(path);
            return QString();
        }
        if (!nameTaken)
            return QString();
    }
    return QString();
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
                     const QString &targetFileName, QString *reason)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        *reason = source.errorString();
        return QString();
    }
    QFile staged;
    QString path = createStaged(directory, targetFileName, &staged, reason);
    if (path.isEmpty())
        return QString();
    auto removeStaged = qScopeGuard([&staged, &path] {
        staged.close();
        QFile::remove(path);
    });

    switch (Platform::copyContent(source.handle(), staged.handle(), reason)) {
    case Platform::KernelCopy::Done:
        break;
    case Platform::KernelCopy::Failed:
        return QString();
    case Platform::KernelCopy::Unsupported:
        if (!copyThrough(source, staged, reason))
            return QString();
        break;
    }
    // Small writes stay in the buffer: only flush() shows a full disk.
    if (!staged.flush()) {
        *reason = staged.errorString();
        return QString();
    }
    // Windows renames no file that is open: the file is closed before the
    // pass gives it the target's name.
    staged.close();
    // The new version keeps the permissions it came with, and its owner may in
    // any case read, write and run it. Whether that works does not matter.
    QFile::setPermissions(path, source.permissions() | QFileDevice::ReadOwner |
                                    QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    removeStaged.dismiss();
    return path;
}

} // namespace Update
