#include "RequestRunner.h"

#include "ToolLog.h"
#include "platform/Volume.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace helper {

namespace {

using helperwire::HelperRequest;
using platform::Follow;
using platform::LogicalPath;
using platform::Volume;

// The items the rules refused, as sent, each logged.
QJsonObject refusedItems(const HelperRequest &request, const QString &what, const QString &caller)
{
    QJsonObject failures;
    for (auto it = request.refused.cbegin(); it != request.refused.cend(); ++it) {
        failures.insert(it.key(), it.value());
        toolLog(LogWarning, QStringLiteral("%1 for %2: refused \"%3\": %4").arg(what, caller, it.key(), it.value()));
    }
    return failures;
}

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

std::optional<QString> RequestRunner::answer(const helperwire::Message &message, const QString &caller) const
{
    const helperwire::ParseResult parsed = helperwire::parseRequest(message);
    if (const auto *request = std::get_if<HelperRequest>(&parsed))
        return run(*request, caller);
    const QString why = std::get<QString>(parsed);
    // A refused forget is answered: to the client any text without
    // "Forgot package" is a failure, and it shows the text. A broken delete
    // or kill is not: the client takes a text it cannot read as "all went",
    // so only a connection closed without a reply tells it the truth.
    const bool forget = message.size() == 2 && message.value(QStringLiteral("type")) == QLatin1String("forget")
                        && message.contains(QStringLiteral("request"));
    toolLog(LogWarning, QStringLiteral("%1 for %2: %3").arg(forget ? QStringLiteral("refused a request")
                                                                   : QStringLiteral("ending the connection"), caller, why));
    if (forget)
        return QStringLiteral("Refused to remove a receipt: %1").arg(why);
    return std::nullopt;
}

QString RequestRunner::run(const HelperRequest &request, const QString &caller) const
{
    switch (request.type) {
    case helperwire::RequestType::Delete:
        return removePaths(request, caller);
    case helperwire::RequestType::Kill:
        return killProcesses(request, caller);
    case helperwire::RequestType::Forget:
        return forgetReceipt(request.identifier, caller);
    }
    return {};
}

QString RequestRunner::removePaths(const HelperRequest &request, const QString &caller) const
{
    QJsonObject failures = refusedItems(request, QStringLiteral("delete"), caller);
    // One line per request and one per failure: a line per path would cost
    // more than removing it, for the hundred thousand files of a package.
    qsizetype removed = 0, gone = 0;
    const QList<Volume::Removal> results = Volume::current()->removeTrees(request.paths);
    for (qsizetype i = 0; i < request.paths.size(); ++i) {
        const LogicalPath &path = request.paths[i];
        // Nothing there is what the client asked for: it counts as removed.
        if (results[i].outcome == Volume::Removal::Removed) {
            ++removed;
        } else if (results[i].outcome == Volume::Removal::Missing || !Volume::current()->status(path, Follow::NotFinal)) {
            ++gone;
        } else {
            QString why = results[i].reason;
            // The door refuses a path through a link whole; say so plainly.
            if (Volume::current()->resolved(path.parent()) != path.parent())
                why = QStringLiteral("a folder above it is a symbolic link: nothing is removed through one");
            failures.insert(request.sent[i], why);
            toolLog(LogError, QStringLiteral("delete: could not remove %1: %2").arg(path.toString(), why));
        }
    }
    const QString first = request.paths.isEmpty() ? QString() : request.paths.first().toString();
    toolLog(LogInfo, QStringLiteral("delete for %1: %2 paths from %3: %4 removed, %5 already gone, %6 refused or failed")
                         .arg(caller)
                         .arg(request.paths.size() + request.refused.size())
                         .arg(first)
                         .arg(removed)
                         .arg(gone)
                         .arg(failures.size()));
    return compact(failures);
}

QString RequestRunner::killProcesses(const HelperRequest &request, const QString &caller) const
{
    toolLog(LogInfo, QStringLiteral("kill for %1: %2 processes").arg(caller).arg(request.pids.size() + request.refused.size()));
    QJsonObject failures = refusedItems(request, QStringLiteral("kill"), caller);
    for (qsizetype i = 0; i < request.pids.size(); ++i) {
        const qint64 pid = request.pids[i];
        if (pid == ::getpid()) {
            failures.insert(request.sent[i], QStringLiteral("the helper tool's own process"));
            toolLog(LogWarning, QStringLiteral("kill for %1: refused its own process %2").arg(caller).arg(pid));
            continue;
        }
        // SIGKILL, as the Mac's forced termination: the process cannot
        // catch it and linger in the files about to be removed.
        if (::kill(pid_t(pid), SIGKILL) == 0) {
            toolLog(LogInfo, QStringLiteral("kill: sent SIGKILL to %1").arg(pid));
            continue;
        }
        const int error = errno;
        const QString why = QStringLiteral("kill %1: %2 (errno %3)").arg(pid).arg(QString::fromLocal8Bit(std::strerror(error))).arg(error);
        failures.insert(request.sent[i], why);
        // A process that has already ended is no failure of the tool's.
        toolLog(error == ESRCH ? LogInfo : LogError, why);
    }
    return compact(failures);
}

QString RequestRunner::forgetReceipt(const QString &identifier, const QString &caller) const
{
    toolLog(LogInfo, QStringLiteral("forget for %1: %2").arg(caller, identifier));
    const LogicalPath receipts = Volume::current()->top().child(u"private/var/db/receipts");
    QStringList left;
    for (const QString &suffix : {QStringLiteral(".plist"), QStringLiteral(".bom")}) {
        const LogicalPath file = receipts.child(QString(identifier + suffix));
        if (Volume::current()->removeItem(file))
            continue;
        const std::optional<platform::ItemStatus> status = Volume::current()->status(file, Follow::NotFinal);
        if (!status)
            continue; // not there: forgotten already
        left.append(QStringLiteral("%1 could not be removed%2").arg(file.toString(),
            status->immutable ? QStringLiteral(" (immutable: Operation not permitted)") : QString()));
    }
    if (left.isEmpty()) {
        toolLog(LogInfo, QStringLiteral("forget: removed the receipt of %1").arg(identifier));
        return QStringLiteral("Forgot package '%1' on '/'.").arg(identifier);
    }
    const QString why = QStringLiteral("The receipt of '%1' is still there: %2").arg(identifier, left.join(QStringLiteral("; ")));
    toolLog(LogError, QStringLiteral("forget: %1").arg(why));
    return why;
}

} // namespace helper
