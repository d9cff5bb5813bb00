#include "update/deferredcopy.h"

#include "platform/process.h"
#include "update/commandchain.h"
#include "update/errorreport.h"
#include "update/shellchain.h"

#include <QCryptographicHash>
#include <QSysInfo>

#include <algorithm>

namespace Update {

namespace {

bool chainIsShell()
{
    return Platform::systemInterpreter() == Platform::Interpreter::Shell;
}

} // namespace

QStringList notCopiedMessages(const CopyList &copies, int from)
{
    QStringList messages;
    for (int i = from; i < copies.size(); ++i)
        messages.append(errorMessage(cannotCopy(copies.at(i).source, QString())));
    return messages;
}

QString deferredCopyHost()
{
    // The machine's own id tells it apart from a machine of the same name;
    // the name stands in where the system keeps no id.
    const QByteArray machine =
        QSysInfo::machineUniqueId() + '\n' + QSysInfo::machineHostName().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(machine, QCryptographicHash::Sha1).toHex().left(hostTagLength));
}

bool isDeferredCopyHost(const QString &text)
{
    return text.size() == hostTagLength && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

bool isDeferredCopyFileName(const QString &fileName, qint64 *chain, QString *host)
{
    if (host)
        host->clear();
    const QLatin1String prefix(temporaryFilePrefix);
    if (!fileName.startsWith(prefix))
        return false;
    const QString rest = fileName.mid(prefix.size());
    const auto isAlphanumeric = [](const QString &text) {
        return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
            return c.unicode() < 0x80 && c.isLetterOrNumber();
        });
    };
    const int dash = rest.indexOf(QLatin1Char('-'));
    if (dash < 0) {
        *chain = 0;
        return rest.size() == 6 && isAlphanumeric(rest);
    }
    bool number = false;
    *chain = rest.left(dash).toLongLong(&number);
    QString last = rest.mid(dash + 1);
    // A Windows chain's files name its machine too.
    const int hostDash = last.indexOf(QLatin1Char('-'));
    if (hostDash >= 0) {
        if (!isDeferredCopyHost(last.left(hostDash)))
            return false;
        if (host)
            *host = last.left(hostDash);
        last = last.mid(hostDash + 1);
    }
    return isAlphanumeric(rest.left(dash)) && number && *chain > 0 && isAlphanumeric(last);
}

Platform::Failure startDeferredCopy(const DeferredCopy &copy,
                                    const QProcessEnvironment &environment)
{
    return chainIsShell() ? startShellChain(copy, environment)
                          : startCommandChain(copy, environment);
}

bool deferredCopyRuns(qint64 chain)
{
    return chainIsShell() ? shellChainRuns(chain) : commandChainRuns(chain);
}

bool recordedCopyRuns(const QString &recordPath, const QString &host, qint64 writer)
{
    return chainIsShell() ? shellChainOfRecordRuns(recordPath)
                          : commandChainOfRecordRuns(host, writer);
}

bool deferredCopyMayUse(const QString &path, qint64 chain, const QString &host)
{
    return chainIsShell() ? shellChainMayUse(path, chain) : commandChainMayUse(chain, host);
}

void removeAbandonedReports(const QString &workDir)
{
    if (!chainIsShell())
        removeAbandonedCommandChainReports(workDir);
}

void dropDeferredCopyVariables(QProcessEnvironment *environment)
{
    if (!chainIsShell())
        dropCommandChainVariables(environment);
}

} // namespace Update
