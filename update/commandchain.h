#ifndef ORVANE_UPDATE_COMMANDCHAIN_H
#define ORVANE_UPDATE_COMMANDCHAIN_H

#include "update/deferredcopy.h"

#include <QList>
#include <QPair>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The deferred copy on Windows: one command line of the system's hidden
// command interpreter, which names every path only through variables.
namespace Update {

// Environment variables, in order: (name, value).
using VariableList = QList<QPair<QString, QString>>;

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

// The first of the paths that deferredCopyVariables() names (the reports'
// included) which the Windows interpreter cannot take: its copy, move, del
// and start take no path of MAX_PATH units or more, and no long form; its
// cd no directory of more than MAX_PATH - 2 units. Empty when it takes them
// all.
QString pathBeyondInterpreter(const DeferredCopy &copy, qint64 chain);

// Whether an environment variable is one of deferredCopyVariables()'s (the
// case of its letters does not count, as on Windows).
bool isDeferredCopyVariable(const QString &name);

// The files the program writes before the Windows interpreter starts, as
// (path, messages): the error file itself with the report of the first copy
// (the other errors and every copy, as not copied), report n (from 2) for a
// failure of the n-th copy, report 0 with the other errors when there are
// any. The reports stand beside the error file, named as
// deferredCopyVariables() says.
QList<QPair<QString, QStringList>> deferredCopyReports(const DeferredCopy &copy, qint64 chain,
                                                       const QString &host = QString());

// Writes the reports and starts the interpreter (startDeferredCopy()).
Platform::Failure startCommandChain(const DeferredCopy &copy,
                                    const QProcessEnvironment &environment);

// The chain's side of deferredCopyRuns(), recordedCopyRuns() and
// deferredCopyMayUse(): the temporary files and reports carry the id of the
// program that started the interpreter, whose child it is; Windows keeps the
// id of the process that started each one. Another machine's processes
// cannot be looked at: its chain counts as running.
bool commandChainRuns(qint64 chain);
bool commandChainOfRecordRuns(const QString &host, qint64 writer);
bool commandChainMayUse(qint64 chain, const QString &host);

// removeAbandonedReports() and dropDeferredCopyVariables() for this chain.
// A chain that never ran (killed, or the machine went down during its wait)
// leaves its reports behind. The interpreter cannot clear its variables
// itself before the restart: one may expand a command's variables only when
// it runs it, and the program's path is one of them.
void removeAbandonedCommandChainReports(const QString &workDir);
void dropCommandChainVariables(QProcessEnvironment *environment);

} // namespace Update

#endif // ORVANE_UPDATE_COMMANDCHAIN_H
