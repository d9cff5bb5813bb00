#ifndef ORVANE_UPDATE_DEFERREDCOPY_H
#define ORVANE_UPDATE_DEFERREDCOPY_H

#include "platform/systemerror.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The deferred copy: files the self-update could not replace while the
// program ran are copied by a hidden command interpreter after the program
// has ended, and the program is then started again: on Windows by its
// command interpreter (commandchain.h), elsewhere by /bin/sh (shellchain.h).
// What either is told is built for both systems, so that each can be checked
// anywhere; what is the same for both is here. Each file is replaced as the
// pass replaces it (the design note of replacement.cpp); a failed step
// removes the temporary file and ends the chain: the later copies and the
// restart do not happen.
namespace Update {

// A file still to be copied: its new version at source takes the name target.
struct FileCopy
{
    QString target;
    QString source;

    friend bool operator==(const FileCopy &a, const FileCopy &b)
    {
        return a.target == b.target && a.source == b.source;
    }
    friend bool operator!=(const FileCopy &a, const FileCopy &b) { return !(a == b); }
};

// Files still to be copied, in order.
using CopyList = QList<FileCopy>;

// What the deferred copy is to do, and what it reports.
struct DeferredCopy
{
    CopyList copies;         // in order
    QStringList otherErrors; // failures no copy mends, reported once the copies have run
    QString errorFile;       // where failures are reported, opened in the editor
    QString restartProgram;  // started without arguments once every copy is made
    QString startDirectory;  // the directory it is started in
    QString recordFile;      // the update's record, removed once the copies are done; empty: none
};

// When a copy fails, the error file names it and every copy after it, each
// as "not copied", after the other errors; the failed one with the system's
// reason where the interpreter can give one. When every copy is made and
// there were other errors, the error file holds them and is opened in the
// editor before the restart.

// The beginnings of the names of a chain's files: its temporary files beside
// their targets, and the Windows chain's reports beside the error file.
constexpr char temporaryFilePrefix[] = ".Orvane-deferred-";
constexpr char reportFilePrefix[] = ".Orvane-report-";

// The "not copied" messages of the copies from the n-th on (from 0).
QStringList notCopiedMessages(const CopyList &copies, int from = 0);

// This machine's mark in the names of its Windows chains' files: twelve
// lower-case hexadecimal digits drawn from its machine id and its name.
constexpr int hostTagLength = 12;
QString deferredCopyHost();

// Whether text has the form of such a mark.
bool isDeferredCopyHost(const QString &text);

// Removes from the working directory the reports of chains that no longer
// run (commandchain.h); only the run that holds the lock calls this. Where
// the chain is the shell, which writes no reports, a no-op.
void removeAbandonedReports(const QString &workDir);

// Takes the chain's variables out of the environment that a restarted
// program hands to its children (commandchain.h); where the chain is the
// shell, which gets its paths as arguments, a no-op.
void dropDeferredCopyVariables(QProcessEnvironment *environment);

// Whether a file name is that of a deferred copy's temporary file, which a
// chain killed in the middle of a copy leaves beside its target:
// ".Orvane-deferred-<chain>-<rest>", where chain is the process id of the
// Linux chain's shell or of the Windows program that started its
// interpreter; ".Orvane-deferred-<chain>-<host>-<n>" of a Windows chain,
// which names its machine in *host (empty otherwise); or
// ".Orvane-deferred-XXXXXX" of earlier versions, for which *chain is 0
// (temporaryFilePrefix).
bool isDeferredCopyFileName(const QString &fileName, qint64 *chain, QString *host = nullptr);

// Whether the deferred copy of this chain (as its temporary files name it)
// still runs on this machine. When that cannot be told, true: its files stay.
bool deferredCopyRuns(qint64 chain);

// Whether a chain may still be writing its temporary file at path, named for
// chain and host (isDeferredCopyFileName()), on this machine or on another
// that shares the directory: then it stays.
bool deferredCopyMayUse(const QString &path, qint64 chain, const QString &host);

// Starts the hidden command interpreter detached, in the current directory:
// after about two seconds it copies every source over its target and then
// starts the program again, or reports what it could not copy. Returns
// nothing once it runs, or why it could not be started. While it runs, it
// holds the update as the lock does (recordedCopyRuns).
Platform::Failure startDeferredCopy(const DeferredCopy &copy,
                                    const QProcessEnvironment &environment);

// Whether the deferred copy of the record at recordPath, written by writer on
// host, still runs, so that nobody else may change the installation. True
// also when that cannot be told.
bool recordedCopyRuns(const QString &recordPath, const QString &host, qint64 writer);

} // namespace Update

#endif // ORVANE_UPDATE_DEFERREDCOPY_H
