#include "update/updaterecord.h"

#include "platform/files.h"

#include <QDataStream>
#include <QFile>
#include <QIODevice>

namespace Update {

namespace {

// What a record starts with: its kind and the layout's version.
constexpr char magic[] = "ORVANE-UPDATE-RECORD\n";
constexpr qint32 layoutVersion = 1;
// No update names more files than this; a larger count is damage.
constexpr qint32 largestEntryCount = 1 << 20;

// A fixed stream version, so that every build reads every other's records.
void setUp(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_5_15);
}

} // namespace

QString recordFilePath(const QString &workDir)
{
    return workDir + QLatin1Char('/') + QLatin1String(recordFileName);
}

QByteArray recordContent(const UpdateRecord &record)
{
    QByteArray content(magic);
    QDataStream stream(&content, QIODevice::WriteOnly | QIODevice::Append);
    setUp(stream);
    // QString goes as UTF-16: every unit is kept, also those no encoding
    // holds (the bytes of a name that is no text).
    stream << layoutVersion << qint32(record.state == UpdateRecord::State::Ready) << record.host
           << record.writer << qint32(record.entries.size());
    for (const RecordEntry &entry : record.entries)
        stream << entry.targetPath << entry.stagedPath << entry.sourcePath;
    stream << qint32(record.handedOver) << record.otherErrors;
    return content;
}

std::optional<UpdateRecord> parseRecord(const QByteArray &content)
{
    if (!content.startsWith(magic))
        return std::nullopt;
    QDataStream stream(content.mid(int(sizeof magic) - 1));
    setUp(stream);
    qint32 version = 0;
    qint32 ready = 0;
    qint32 count = 0;
    UpdateRecord record;
    stream >> version >> ready >> record.host >> record.writer >> count;
    if (stream.status() != QDataStream::Ok || version != layoutVersion || ready < 0 || ready > 1 ||
        count < 0 || count > largestEntryCount)
        return std::nullopt;
    record.state = ready ? UpdateRecord::State::Ready : UpdateRecord::State::Staging;
    for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        RecordEntry entry;
        stream >> entry.targetPath >> entry.stagedPath >> entry.sourcePath;
        record.entries.append(entry);
    }
    qint32 handedOver = 0;
    stream >> handedOver >> record.otherErrors;
    record.handedOver = handedOver != 0;
    if (stream.status() != QDataStream::Ok || !stream.atEnd())
        return std::nullopt;
    return record;
}

std::optional<UpdateRecord> readRecord(const QString &path)
{
    constexpr qint64 largestRecord = qint64(256) * 1024 * 1024;
    const std::optional<QByteArray> content = Platform::readRegularFile(path, largestRecord);
    return content ? parseRecord(*content) : std::nullopt;
}

Platform::Failure writeRecord(const QString &workDir, const UpdateRecord &record)
{
    if (Platform::Failure failed =
            Platform::writeFileInOneStep(recordFilePath(workDir), recordContent(record)))
        return failed;
    return Platform::flushDirectory(workDir);
}

Platform::Failure removeRecord(const QString &workDir)
{
    QFile file(recordFilePath(workDir));
    if (!file.remove() && file.exists())
        return Platform::ownError(file.errorString());
    return Platform::flushDirectory(workDir);
}

} // namespace Update
