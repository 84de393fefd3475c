#include "dorvane/uninstall/KeptRuns.h"

#include "dorvane/Settings.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/uninstall/SessionRecord.h"
#include "helperwire/HelperRequest.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Format.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace dorvane::KeptRuns {

namespace {

using Kind = helperwire::ItemOutcome::Kind;

std::optional<QList<KeptRun>> parseRuns(const helperwire::Reply &reply, QString *error)
{
    if (!reply.failures().isEmpty()) {
        *error = reply.failures().first().reason;
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(reply.text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        *error = QStringLiteral("the helper tool's list is not readable");
        return std::nullopt;
    }
    QList<KeptRun> runs;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        KeptRun run;
        run.run = object.value(u"run").toString();
        run.created = QDateTime::fromString(object.value(u"created").toString(), Qt::ISODate);
        for (const QJsonValue &package : object.value(u"packages").toArray())
            run.packages.append(package.toString());
        run.items = object.value(u"items").toInteger();
        run.bytes = object.value(u"bytes").toInteger();
        for (const QJsonValue &path : object.value(u"paths").toArray())
            run.paths.append(path.toString());
        runs.append(run);
    }
    return runs;
}

void logLine(const QString &text)
{
    LogFiles::addToLogfile(kestrum::makeString("%@: %@\n", LogFiles::timestamp(QDateTime::currentDateTime()), text));
}

} // namespace

int keepDays()
{
    return int(std::max<qint64>(0, kestrum::DefaultsKey(Settings::kKeepRemovedDays).defaultInt()));
}

std::optional<QList<KeptRun>> list(DeleteHelper &helper, QString *error)
{
    const std::optional<helperwire::Reply> reply = helper.askQuarantine(helperwire::listQuarantineMessage(), error);
    return reply ? parseRuns(*reply, error) : std::nullopt;
}

std::optional<KeptRun> describe(DeleteHelper &helper, const QString &run, QString *error)
{
    const std::optional<helperwire::Reply> reply = helper.askQuarantine(helperwire::listQuarantineMessage(run), error);
    const std::optional<QList<KeptRun>> runs = reply ? parseRuns(*reply, error) : std::nullopt;
    if (!runs || runs->isEmpty())
        return std::nullopt;
    return runs->first();
}

std::optional<KeptRun> last(DeleteHelper &helper, QString *error)
{
    const std::optional<QList<KeptRun>> runs = list(helper, error);
    // Run identifiers sort by the time they began.
    if (!runs || runs->isEmpty())
        return std::nullopt;
    return describe(helper, runs->last().run, error);
}

UndoOutcome undo(DeleteHelper &helper, const QString &run)
{
    UndoOutcome outcome;
    outcome.run = run;
    const std::optional<helperwire::Reply> reply = helper.askQuarantine(helperwire::restoreMessage(run), &outcome.error);
    if (!reply)
        return outcome;
    if (reply->items.size() == 1 && reply->items.first().kind == Kind::Refused && reply->items.first().item == run) {
        outcome.error = reply->items.first().reason;
        return outcome;
    }
    // The reply names every item, restored or not, in the manifest's order.
    for (const helperwire::ItemOutcome &item : reply->items) {
        if (item.kind == Kind::Removed)
            outcome.restored.append(item.item);
        else if (item.kind == Kind::Gone)
            outcome.neverMoved.append(item.item);
        else
            outcome.notRestored.append(QStringLiteral("%1: %2").arg(item.item, item.reason));
    }
    const SessionRecord::Restored session = SessionRecord::restore(run);
    outcome.dockTiles = session.dockTiles;
    outcome.loginItems = session.loginItems;
    outcome.notRestored += session.failures;
    logLine(kestrum::makeString("undid run %@: %li items restored, %li left in the quarantine, %li never moved, "
                                "%li Dock tiles and %li login items back",
                                run, qint64(outcome.restored.size()), qint64(outcome.notRestored.size()),
                                qint64(outcome.neverMoved.size()), qint64(outcome.dockTiles), qint64(outcome.loginItems)));
    return outcome;
}

bool empty(DeleteHelper &helper, const QString &run, QString *error)
{
    const std::optional<helperwire::Reply> reply = helper.askQuarantine(helperwire::emptyQuarantineMessage(run), error);
    if (!reply)
        return false;
    if (!reply->failures().isEmpty()) {
        *error = reply->failures().first().reason;
        return false;
    }
    SessionRecord::discard(run);
    logLine(kestrum::makeString("emptied the quarantine of run %@", run));
    return true;
}

QStringList emptyExpired(DeleteHelper &helper, const QDateTime &now, int days)
{
    QString error;
    QStringList emptied;
    for (const KeptRun &run : list(helper, &error).value_or(QList<KeptRun>())) {
        if (run.keptUntil(days) <= now && empty(helper, run.run, &error))
            emptied.append(run.run);
    }
    return emptied;
}

QString undoQuestion(const KeptRun &run)
{
    constexpr qsizetype kShown = 12;
    QStringList shown = run.paths.mid(0, kShown);
    if (run.items > kShown)
        shown.append(kestrum::makeString("… and %li more", qint64(run.items - kShown)));
    return kestrum::makeString("Do you want to put back what the uninstall of %@ removed on %@?\n\n%li items (%@) "
                               "come back to their places, the receipts last, with the Dock tiles and login items "
                               "it removed. An item whose place is taken meanwhile stays in the quarantine. Ended "
                               "processes and quit applications are not restarted.\n\n%@",
                               run.packages.join(QStringLiteral(", ")),
                               QLocale::system().toString(run.created.toLocalTime(), QLocale::ShortFormat), run.items,
                               QLocale::system().formattedDataSize(run.bytes), shown.join(QLatin1Char('\n')));
}

} // namespace dorvane::KeptRuns

namespace dorvane {

QStringList UndoOutcome::report() const
{
    QStringList lines;
    if (!error.isEmpty())
        return {kestrum::makeString("Nothing was restored: %@", error)};
    lines.append(kestrum::makeString("Restored %li items of run %@.", qint64(restored.size()), run));
    if (dockTiles > 0 || loginItems > 0)
        lines.append(kestrum::makeString("Put back %li Dock tiles and %li login items.", qint64(dockTiles),
                                         qint64(loginItems)));
    if (!neverMoved.isEmpty())
        lines.append(kestrum::makeString("%li items were never moved to the quarantine and are still in their places.",
                                         qint64(neverMoved.size())));
    for (const QString &line : notRestored)
        lines.append(kestrum::makeString("Not restored: %@", line));
    lines.append(QStringLiteral("Ended processes and quit applications cannot be restored: start them again if you "
                                "need them."));
    return lines;
}

} // namespace dorvane
