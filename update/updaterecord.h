#ifndef ORVANE_UPDATE_UPDATERECORD_H
#define ORVANE_UPDATE_UPDATERECORD_H

#include "platform/systemerror.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The record of an update: written into the working directory before the
// first installed file changes and removed once the update's outcome is
// known, so that an update cut short (the program or the deferred copy
// killed, the power gone) is finished by the next start instead of leaving
// some files new and the others old.
namespace Update {

constexpr char recordFileName[] = "Orvane.journal";

// One installation file of the update.
struct RecordEntry
{
    QString targetPath;
    QString stagedPath; // the staged new version beside the target; empty: to be copied
    QString sourcePath; // the new version in the working directory
};

struct UpdateRecord
{
    // Staging: the staged files may not all be written and flushed yet, and no
    // target has changed; an update cut short then is undone (the staged
    // files removed). Ready: every staged file is on the disk, and the update
    // is finished.
    enum class State { Staging, Ready };
    State state = State::Staging;
    QString host;      // the machine of the run that wrote it
    qint64 writer = 0; // its process id, which also names its deferred copy on Windows
    QList<RecordEntry> entries;
    // Once the deferred copy has taken over: the update's failures that no
    // copy mends, for the report of the start that finishes it.
    bool handedOver = false;
    QStringList otherErrors;
};

// The record's path in a working directory.
QString recordFilePath(const QString &workDir);

// The record's bytes, and back; std::nullopt for bytes that are no complete
// record (a record is written whole, so that means it is damaged or of
// another kind). Every path keeps every character, whatever it holds.
QByteArray recordContent(const UpdateRecord &record);
std::optional<UpdateRecord> parseRecord(const QByteArray &content);

// The record at path; std::nullopt when there is none, when it is no regular
// file or cannot be read, or when it is damaged.
std::optional<UpdateRecord> readRecord(const QString &path);

// Writes the record in one step (whole beside its name, flushed, renamed into
// place) and flushes the working directory, so that the record survives a
// power cut.
Platform::Failure writeRecord(const QString &workDir, const UpdateRecord &record);

// Removes the record and flushes the working directory, so that it does not
// come back after a power cut. A missing record counts as removed.
Platform::Failure removeRecord(const QString &workDir);

} // namespace Update

#endif // ORVANE_UPDATE_UPDATERECORD_H
