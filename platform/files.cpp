#include "platform/files.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

namespace Platform {

namespace {

// Windows' MAX_PATH, and the length from which a path no longer fits every
// call without the long form: a directory's path must leave room for a
// file name of 8.3 characters.
constexpr int windowsMaxPath = 260;
constexpr int longFormFrom = windowsMaxPath - 12;

} // namespace

QString longPathForm(const QString &path)
{
    QString native = path;
    native.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (native.size() < longFormFrom || native.startsWith(QLatin1String("\\\\?\\")) ||
        native.startsWith(QLatin1String("\\\\.\\")))
        return native;
    // The long form is taken as it stands: "." and ".." are resolved here,
    // never above the root (a drive, or a share's server and name).
    QString root;
    QStringList parts;
    if (native.startsWith(QLatin1String("\\\\"))) {
        parts = native.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
        if (parts.size() < 2)
            return native;
        const QString server = parts.takeFirst();
        root = QLatin1String("\\\\?\\UNC\\") + server + QLatin1Char('\\') + parts.takeFirst();
    } else if (native.size() >= 3 && native.at(0).unicode() < 0x80 && native.at(0).isLetter() &&
               native.at(1) == QLatin1Char(':') && native.at(2) == QLatin1Char('\\')) {
        root = QLatin1String("\\\\?\\") + native.left(2);
        parts = native.mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    } else {
        return native;
    }
    QStringList kept;
    for (const QString &part : qAsConst(parts)) {
        if (part == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
        } else if (part != QLatin1String(".")) {
            kept.append(part);
        }
    }
    return root + QLatin1Char('\\') + kept.join(QLatin1Char('\\'));
}

Failure writeFileInOneStep(const QString &path, const QByteArray &content)
{
    QString temporary;
    std::optional<Result<int>> created;
    for (int attempt = 0; attempt < 100 && (!created || !created->ok()); ++attempt) {
        temporary =
            path + QStringLiteral(".orvane-%1")
                       .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        created = createNewFile(temporary);
        if (!created->ok() && !isNameTaken(created->error()))
            return created->error();
    }
    if (!created->ok())
        return created->error();
    const int descriptor = created->value();
    Failure failed = writeAll(descriptor, content.constData(), content.size());
    if (!failed)
        failed = flushFile(descriptor);
    const Failure notClosed = closeFile(descriptor);
    if (!failed)
        failed = notClosed;
    if (!failed) {
        const ReplaceOutcome replaced = replaceFile(temporary, path);
        if (replaced.replacement == Replacement::Done)
            return std::nullopt;
        failed = replaced.error;
    }
    QFile::remove(temporary);
    return failed;
}

} // namespace Platform
