#include "RequestRunner.h"

#include "ToolLog.h"
#include "dorvane/planning/IgnoredLocations.h"
#include "platform/RunningProcesses.h"
#include "platform/Volume.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace helpertool {

namespace {

using dorvane::RemovalRules;
using helperwire::HelperRequest;
using helperwire::ItemOutcome;
using platform::LogicalPath;
using platform::Volume;
using Kind = ItemOutcome::Kind;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The items the form rules refused, as sent.
QList<ItemOutcome> refusedItems(const HelperRequest &request)
{
    QList<ItemOutcome> items;
    for (auto it = request.refused.cbegin(); it != request.refused.cend(); ++it)
        items.append({it.key(), Kind::Refused, it.value(), 0});
    return items;
}

ItemOutcome outcomeOf(const QString &item, const Volume::Removal &removal)
{
    switch (removal.outcome) {
    case Volume::Removal::Removed:
        return {item, Kind::Removed, QString(), 0};
    case Volume::Removal::Missing:
        return {item, Kind::Gone, QString(), 0};
    case Volume::Removal::Failed:
        break;
    }
    return {item, Kind::Failed, removal.reason, removal.error};
}

// One line per refusal or failure, and one per request: a line per path
// would cost more than removing it, for a package's hundred thousand files.
void logOutcomes(const QString &what, const QString &caller, const helperwire::Reply &reply)
{
    qsizetype removed = 0, gone = 0;
    for (const ItemOutcome &item : reply.items) {
        if (item.kind == Kind::Removed)
            ++removed;
        else if (item.kind == Kind::Gone)
            ++gone;
        else
            toolLog(item.kind == Kind::Refused ? LogWarning : LogError,
                    QStringLiteral("%1 for %2: %3 \"%4\": %5")
                        .arg(what, caller, item.kind == Kind::Refused ? QStringLiteral("refused") : QStringLiteral("failed"),
                             item.item, item.reason));
    }
    toolLog(LogInfo, QStringLiteral("%1 for %2: %3 items from %4: %5 done, %6 already gone, %7 refused or failed")
                         .arg(what, caller)
                         .arg(reply.items.size())
                         .arg(reply.items.isEmpty() ? QString() : reply.items.first().item)
                         .arg(removed)
                         .arg(gone)
                         .arg(reply.items.size() - removed - gone));
}

} // namespace

std::optional<QString> RequestRunner::answer(const helperwire::Message &message, const QString &caller)
{
    const helperwire::ParseResult parsed = helperwire::parseRequest(message);
    if (const auto *request = std::get_if<HelperRequest>(&parsed))
        return helperwire::encodeReply(run(*request, caller));
    // A message that is no request gets no reply: the client takes only a
    // typed reply for an answer, and the closed connection tells it the rest.
    toolLog(LogWarning, QStringLiteral("ending the connection for %1: %2").arg(caller, std::get<QString>(parsed)));
    return std::nullopt;
}

helperwire::Reply RequestRunner::run(const HelperRequest &request, const QString &caller)
{
    // The quarantine's own requests need no receipts: the tool gives back
    // and empties only runs it recorded itself.
    switch (request.type) {
    case helperwire::RequestType::Restore:
    case helperwire::RequestType::EmptyQuarantine:
    case helperwire::RequestType::ListQuarantine: {
        const bool restore = request.type == helperwire::RequestType::Restore;
        const helperwire::Reply reply = restore ? m_quarantine.restore(request.run)
                                        : request.type == helperwire::RequestType::EmptyQuarantine
                                            ? m_quarantine.empty(request.run)
                                            : m_quarantine.list(request.run);
        if (request.type != helperwire::RequestType::ListQuarantine)
            logOutcomes(QStringLiteral("%1 run %2").arg(restore ? QStringLiteral("restore") : QStringLiteral("empty"),
                                                        request.run),
                        caller, reply);
        return reply;
    }
    default:
        break;
    }
    const std::shared_ptr<const dorvane::Catalogue> catalogue = m_authority.catalogue();
    const dorvane::IgnoredLocations ignored(m_authority.ignoredFolders());
    const RemovalRules rules(*catalogue, request.packages, ignored, Volume::current());
    helperwire::Reply reply;
    QString what;
    switch (request.type) {
    case helperwire::RequestType::Delete:
        what = QStringLiteral("delete");
        reply = removePaths(request, rules);
        break;
    case helperwire::RequestType::DeleteEmptyFolder:
        what = QStringLiteral("delete empty folder");
        reply = removeEmptyFolders(request, rules);
        break;
    case helperwire::RequestType::Kill:
        what = QStringLiteral("kill");
        reply = killProcesses(request, rules);
        break;
    case helperwire::RequestType::Forget:
        what = QStringLiteral("forget");
        reply = forgetReceipt(request, rules, *catalogue);
        break;
    default:
        break;
    }
    if (!request.run.isEmpty())
        what += QStringLiteral(" into the quarantine of run ") + request.run;
    logOutcomes(QStringLiteral("%1 (for %2)").arg(what, request.packages.join(QStringLiteral(", "))), caller, reply);
    return reply;
}

QList<ItemOutcome> RequestRunner::takeAway(const HelperRequest &request, const QList<LogicalPath> &paths,
                                          const QStringList &sent, Volume::Reach reach, QuarantineRecord::Kind kind)
{
    if (!request.run.isEmpty())
        return m_quarantine.moveAside(request.run, request.packages, paths, sent, reach, kind);
    const QList<Volume::Removal> removals = Volume::current()->removeTrees(paths, reach);
    QList<ItemOutcome> items;
    items.reserve(paths.size());
    for (qsizetype i = 0; i < paths.size(); ++i)
        items.append(outcomeOf(sent[i], removals[i]));
    return items;
}

helperwire::Reply RequestRunner::removePaths(const HelperRequest &request, const RemovalRules &rules)
{
    helperwire::Reply reply{refusedItems(request), QString()};
    // A listed item goes by itself (a file or a link: never a folder with
    // what another package put inside); an application folder or generated
    // item goes whole. Each kind is removed folder by folder.
    QList<qsizetype> single, whole;
    QList<LogicalPath> singlePaths, wholePaths;
    QStringList singleSent, wholeSent;
    single.reserve(request.paths.size());
    singlePaths.reserve(request.paths.size());
    QList<ItemOutcome> items(request.paths.size());
    for (qsizetype i = 0; i < request.paths.size(); ++i) {
        const RemovalRules::Verdict verdict = rules.mayRemove(request.paths[i]);
        if (!verdict.accepted()) {
            items[i] = {request.sent[i], Kind::Refused, verdict.reason, 0};
        } else if (verdict.ground == RemovalRules::Ground::Listed) {
            single.append(i);
            singlePaths.append(request.paths[i]);
            singleSent.append(request.sent[i]);
        } else {
            whole.append(i);
            wholePaths.append(request.paths[i]);
            wholeSent.append(request.sent[i]);
        }
    }
    const QList<ItemOutcome> singles =
        takeAway(request, singlePaths, singleSent, Volume::Reach::ItemOnly, QuarantineRecord::Kind::Item);
    for (qsizetype k = 0; k < single.size(); ++k)
        items[single[k]] = singles[k];
    const QList<ItemOutcome> wholes =
        takeAway(request, wholePaths, wholeSent, Volume::Reach::Whole, QuarantineRecord::Kind::Item);
    for (qsizetype k = 0; k < whole.size(); ++k)
        items[whole[k]] = wholes[k];
    reply.items += items;
    return reply;
}

helperwire::Reply RequestRunner::removeEmptyFolders(const HelperRequest &request, const RemovalRules &rules)
{
    helperwire::Reply reply{refusedItems(request), QString()};
    for (qsizetype i = 0; i < request.paths.size(); ++i) {
        const RemovalRules::Verdict verdict = rules.mayRemoveEmptyFolder(request.paths[i]);
        if (!verdict.accepted()) {
            reply.items.append({request.sent[i], Kind::Refused, verdict.reason, 0});
            continue;
        }
        const QList<LogicalPath> folder{request.paths[i]};
        const Volume::Removal removal = request.run.isEmpty()
                                            ? Volume::current()->removeEmptyFolders(folder).value(0)
                                            : m_quarantine.removeEmptyFolders(request.run, request.packages, folder).value(0);
        reply.items.append(outcomeOf(request.sent[i], removal));
    }
    return reply;
}

helperwire::Reply RequestRunner::killProcesses(const HelperRequest &request, const RemovalRules &rules) const
{
    helperwire::Reply reply{refusedItems(request), QString()};
    for (qsizetype i = 0; i < request.pids.size(); ++i) {
        const qint64 pid = request.pids[i];
        const QString &sent = request.sent[i];
        if (pid == ::getpid()) {
            reply.items.append({sent, Kind::Refused, QStringLiteral("the helper tool's own process"), 0});
            continue;
        }
        // Judged by what the process runs, and ended only through a pidfd
        // that checks the executable again, so a pid reused meanwhile by
        // another program is never hit.
        const std::optional<LogicalPath> executable = platform::executableOf(pid);
        if (!executable) {
            if (platform::processExists(pid))
                reply.items.append({sent, Kind::Refused, QStringLiteral("it runs nothing on the volume"), 0});
            else
                reply.items.append({sent, Kind::Gone, QString(), 0});
            continue;
        }
        const RemovalRules::Verdict verdict = rules.mayEnd(*executable);
        if (!verdict.accepted()) {
            reply.items.append({sent, Kind::Refused, verdict.reason, 0});
            continue;
        }
        // SIGKILL, as the Mac's forced termination: the process cannot
        // catch it and linger in the files about to be removed.
        int error = 0;
        if (platform::forceTerminate(pid, *executable, &error))
            reply.items.append({sent, Kind::Removed, QString(), 0});
        else if (error == ESRCH)
            reply.items.append({sent, Kind::Gone, QString(), 0});
        else
            reply.items.append({sent, Kind::Failed, QStringLiteral("kill %1: %2").arg(pid).arg(systemError(error)), error});
    }
    return reply;
}

helperwire::Reply RequestRunner::forgetReceipt(const HelperRequest &request, const RemovalRules &rules,
                                               const dorvane::Catalogue &catalogue)
{
    const QString &identifier = request.identifier;
    helperwire::Reply reply;
    const RemovalRules::Verdict verdict = rules.mayForget(identifier);
    if (!verdict.accepted()) {
        reply.items.append({identifier, Kind::Refused, verdict.reason, 0});
        return reply;
    }
    // The receipts that hold the identifier, whatever their file names: a
    // legacy bundle goes as a folder, a modern receipt as its two files.
    for (const QList<dorvane::PackageRecord> *records : {&catalogue.installerPackages, &catalogue.allPackages}) {
        for (const dorvane::PackageRecord &record : *records) {
            if (record.packageIdentifier() != identifier)
                continue;
            const QList<LogicalPath> files = platform::volumePaths(
                record.isLegacy() ? QStringList{record.pkgPath()} : QStringList{record.plistPath(), record.bomPath()});
            reply.items += takeAway(request, files, platform::toStrings(files),
                                    record.isLegacy() ? Volume::Reach::Whole : Volume::Reach::ItemOnly,
                                    QuarantineRecord::Kind::Receipt);
        }
    }
    if (reply.items.isEmpty())
        reply.items.append({identifier, Kind::Failed, QStringLiteral("no receipt on the volume holds this identifier"),
                            ENOENT});
    else if (reply.failures().isEmpty())
        reply.text = helperwire::forgotText(identifier);
    return reply;
}

} // namespace helpertool
