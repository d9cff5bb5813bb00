#ifndef ORVANE_UPDATE_DEFERREDCOPY_H
#define ORVANE_UPDATE_DEFERREDCOPY_H

#include <QList>
#include <QPair>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The deferred copy: files the self-update could not replace while the
// program ran are copied by a hidden command interpreter after the program
// has ended, and the program is then started again. What the interpreter is
// told is built here, for both systems, so that either can be checked
// anywhere. Each file is replaced as the pass replaces it (the design note of
// replacement.cpp); a failed step removes the temporary file and ends the
// chain: the later copies and the restart do not happen.
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

// Environment variables, in order: (name, value).
using VariableList = QList<QPair<QString, QString>>;

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

// The command line of the Windows command interpreter for this many copies:
// a wait of about two seconds (the system's ping.exe), then per file "copy
// /Y" to the temporary name and "move /Y" over the target; then the error
// file gets the next file's report, after the last file the other errors'
// report (which is then opened in the system's notepad.exe) or nothing; then
// with record the deletion of the update's record (whose failure does not
// stop the chain: the next start finds nothing left to do and removes it);
// then a change to the start directory and the restart, each step only when
// the one before succeeded. When one fails, the temporary files, the reports
// and the record are deleted, and the error file, which then holds the report
// of the first file not copied, is opened. No path is part of the line: it names them
// only through the variables of deferredCopyVariables(), whose values the
// interpreter does not read as syntax. The interpreter cannot be trusted to
// write 8-bit text: the program writes the reports beforehand
// (deferredCopyReports()).
QString deferredCopyCommandLine(int copyCount, bool otherErrors, bool record = false);

// The variables that deferredCopyCommandLine() refers to, holding the paths
// exactly as given: ORVANE_S<n>, ORVANE_N<n> and ORVANE_T<n> (source,
// temporary name beside the target, target) per copy, counting from 1, then
// ORVANE_D (start directory), ORVANE_J (the record, when there is one),
// ORVANE_R (program to restart), ORVANE_E (the
// reports' common beginning: report n is ORVANE_E + n), ORVANE_F (error
// file, with backslashes for the editor), ORVANE_P (ping.exe in the system
// directory) and ORVANE_X (notepad.exe in the Windows directory). The
// temporary names and reports carry chain, a number of this chain's own (the
// process id), so that two chains in one directory never share one, and
// host, when given, the machine's (deferredCopyHost()), so that chains of
// two machines that share a directory never do either:
// ".Orvane-deferred-<chain>-<host>-<n>", ".Orvane-report-<chain>-<host>-<n>".
VariableList deferredCopyVariables(const DeferredCopy &copy, qint64 chain,
                                   const QString &systemDirectory, const QString &windowsDirectory,
                                   const QString &host = QString());

// This machine's mark in the names of its Windows chains' files: twelve
// lower-case hexadecimal digits drawn from its machine id and its name.
constexpr int hostTagLength = 12;
QString deferredCopyHost();

// Whether text has the form of such a mark.
bool isDeferredCopyHost(const QString &text);

// The first of the paths that deferredCopyVariables() names (the reports'
// included) which the Windows interpreter cannot take: its copy, move, del
// and start take no path of MAX_PATH units or more, and no long form; its
// cd no directory of more than MAX_PATH - 2 units. Empty when it takes them
// all.
QString pathBeyondInterpreter(const DeferredCopy &copy, qint64 chain);

// Whether an environment variable is one of deferredCopyVariables()'s (the
// case of its letters does not count, as on Windows).
bool isDeferredCopyVariable(const QString &name);

// Removes from the working directory the reports of Windows chains that no
// longer run: a chain that never ran (killed, or the machine went down
// during its wait) leaves them behind. A chain's reports carry the id of the
// program that started it, and the interpreter is the program's child; the
// program has ended, but Windows keeps the id of the process that started
// each one, so a chain runs for as long as a process started by that id
// does. Only the run that holds the lock calls this. A no-op on Linux, where
// the chain writes no reports.
void removeAbandonedReports(const QString &workDir);

// Takes the Windows interpreter's variables out of the environment that a
// restarted program hands to its children, so that they do not reach the
// installer. The interpreter cannot clear them itself before the restart:
// one may expand a command's variables only when it runs it, and the
// program's path is one of them. A no-op on Linux, where the chain gets its
// paths as arguments.
void dropDeferredCopyVariables(QProcessEnvironment *environment);

// The files the program writes before the Windows interpreter starts, as
// (path, messages): the error file itself with the report of the first copy
// (the other errors and every copy, as not copied), report n (from 2) for a
// failure of the n-th copy, report 0 with the other errors when there are
// any. The reports stand beside the error file, named as
// deferredCopyVariables() says.
QList<QPair<QString, QStringList>> deferredCopyReports(const DeferredCopy &copy, qint64 chain,
                                                       const QString &host = QString());

// The same for /bin/sh: its arguments, "-c" and the fixed script of
// deferredcopy.sh first. The paths and messages are positional parameters
// and never part of the script text, so no file name can bring in shell
// syntax. The script finds its tools on the system's standard path, whatever
// PATH holds; the restarted program and the editor get the environment
// unchanged. editor opens the error file: an absolute path, or empty for the
// system's own opener.
QStringList deferredCopyShellArguments(const DeferredCopy &copy, const QString &editor = QString());

// The argument that names the Linux chain's shell among the processes
// (its $0).
constexpr char deferredCopyMark[] = "orvane-update";

// Whether a file name is that of a deferred copy's temporary file, which a
// chain killed in the middle of a copy leaves beside its target:
// ".Orvane-deferred-<chain>-<rest>", where chain is the process id of the
// Linux chain's shell or of the Windows program that started its
// interpreter; ".Orvane-deferred-<chain>-<host>-<n>" of a Windows chain,
// which names its machine in *host (empty otherwise); or
// ".Orvane-deferred-XXXXXX" of earlier versions, for which *chain is 0.
bool isDeferredCopyFileName(const QString &fileName, qint64 *chain, QString *host = nullptr);

// Whether the deferred copy of this chain (as its temporary files name it)
// still runs on this machine. When that cannot be told, true: its files stay.
bool deferredCopyRuns(qint64 chain);

// Whether a chain may still be writing its temporary file at path, named for
// chain and host (isDeferredCopyFileName()), on this machine or on another
// that shares the directory: then it stays. Linux: the chain holds the lock
// of its temporary file for as long as it uses it (a chain of an earlier
// version, which holds none, is known by its process here); Windows: a
// chain of another machine may, whatever its process id means here.
bool deferredCopyMayUse(const QString &path, qint64 chain, const QString &host);

// Starts the hidden command interpreter detached, in the current directory:
// after about two seconds it copies every source over its target and then
// starts the program again, or reports what it could not copy. Returns
// whether it was started. While it runs, it holds the update as the lock
// does: on Linux the shell keeps a lock on the record's file (lockFile) until
// it has removed the record; on Windows the record names the program that
// started the interpreter (recordedCopyRuns).
bool startDeferredCopy(const DeferredCopy &copy, const QProcessEnvironment &environment);

// Whether the deferred copy of the record at recordPath, written by writer on
// host, still runs, so that nobody else may change the installation. True
// also when that cannot be told.
bool recordedCopyRuns(const QString &recordPath, const QString &host, qint64 writer);

} // namespace Update

#endif // ORVANE_UPDATE_DEFERREDCOPY_H
