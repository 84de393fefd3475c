#include "Quarantine.h"
#include "QuarantineLayout.h"

#include "helperwire/HelperRequest.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace helpertool {

namespace {

using namespace quarantine;

// What one listing of a run names; the count says how many more there are.
constexpr qsizetype kListedPaths = 1000;

} // namespace

// --- giving back ---

helperwire::Reply Quarantine::restore(const QString &run)
{
    helperwire::Reply reply;
    const std::optional<QuarantineManifest> manifest = manifestOf(run);
    if (!manifest) {
        reply.items.append(outcome(run, Kind::Refused, QStringLiteral("no such run in the quarantine")));
        return reply;
    }
    if (m_run == run) {
        m_manifest.reset();   // a restored run takes no more items
        m_run.clear();
    }
    const Volume &volume = *Volume::current();
    QHash<LogicalPath, const QuarantineRecord *> folderRecords;
    for (const QuarantineRecord &record : manifest->records) {
        if (record.kind == QuarantineRecord::Kind::Folder)
            if (const std::optional<LogicalPath> path = volume.path(record.path))
                folderRecords.insert(*path, &record);
    }
    // A missing folder is made as it was recorded, or as the usual
    // system folder; never through a link, never over a file.
    QSet<LogicalPath> present;
    const std::function<bool(const LogicalPath &)> ensureFolder = [&](const LogicalPath &folder) {
        if (present.contains(folder))
            return true;
        const std::optional<platform::ItemStatus> status = volume.status(folder, Follow::NotFinal);
        if (status && !status->isDirectory())
            return false;
        if (!status) {
            if (folder.isRoot() || !ensureFolder(folder.parent()))
                return false;
            const QuarantineRecord *recorded = folderRecords.value(folder);
            const std::optional<Volume::Owner> owner =
                recorded ? std::optional(Volume::Owner{recorded->owner, recorded->group}) : std::nullopt;
            int error = 0;
            if (!volume.makeFolder(folder, recorded ? recorded->mode : 0755, owner, nullptr, &error) && error != EEXIST)
                return false;
        }
        present.insert(folder);
        return true;
    };
    QList<LogicalPath> folders = folderRecords.keys();
    std::sort(folders.begin(), folders.end(),
              [](const LogicalPath &a, const LogicalPath &b) { return a.toString().size() < b.toString().size(); });
    for (const LogicalPath &folder : std::as_const(folders))
        ensureFolder(folder);

    // Items first, receipts last: the package is listed again only with
    // its files back.
    const LogicalPath items = itemsFolder(run);
    for (const QuarantineRecord::Kind kind : {QuarantineRecord::Kind::Item, QuarantineRecord::Kind::Receipt}) {
        QList<Volume::Move> moves;
        QList<const QuarantineRecord *> moving;
        for (const QuarantineRecord &record : manifest->records) {
            if (record.kind != kind)
                continue;
            if (record.forGood) {
                reply.items.append(outcome(record.path, Kind::Failed,
                                           QStringLiteral("it was removed for good when it went: it cannot come back")));
                continue;
            }
            const std::optional<LogicalPath> target = volume.path(record.path);
            if (!target || !helperwire::pathRefusal(target->toString()).isEmpty() || record.number.isEmpty()) {
                reply.items.append(outcome(record.path, Kind::Refused, QStringLiteral("not a place anything goes back to")));
                continue;
            }
            if (!ensureFolder(target->parent())) {
                reply.items.append(outcome(record.path, Kind::Failed,
                                           QStringLiteral("its folder cannot be made again: it stays in the quarantine")));
                continue;
            }
            if (record.entries > 0) {
                reply.items += restoreContents(record, items.child(record.number), *target);
                continue;
            }
            moves.append({items.child(record.number), *target});
            moving.append(&record);
        }
        Volume::MoveHooks hooks;
        // What is there must be what was moved: the same kind of item, the
        // same inode. Anything put in its place is left alone.
        hooks.check = [&](qsizetype i, const Volume::Moved &found) {
            const QuarantineRecord &record = *moving[i];
            if (found.status.type != record.type || (record.inode != 0 && found.status.inode != record.inode))
                return QStringLiteral("the quarantined item is not what was moved there: it is left alone");
            return QString();
        };
        const QList<Volume::Moved> moved = volume.moveItems(moves, Volume::Reach::Whole, hooks);
        for (qsizetype i = 0; i < moved.size(); ++i) {
            const QString &path = moving[i]->path;
            const Volume::Moved &item = moved[i];
            if (item.outcome == Volume::Moved::Done)
                reply.items.append(outcome(path, Kind::Removed));
            else if (item.outcome == Volume::Moved::Missing)
                reply.items.append(outcome(path, Kind::Gone));
            else if (item.error == EEXIST)
                reply.items.append(outcome(path, Kind::Failed, QStringLiteral("its place is taken: it stays in the quarantine"),
                                           EEXIST));
            else
                reply.items.append(outcome(path, Kind::Failed, item.reason, item.error));
        }
    }
    // Emptied: the run is done with. Anything left keeps it for another try.
    if (volume.list(items).value_or(QStringList{QStringLiteral("?")}).isEmpty())
        volume.removeTrees({runFolder(run)});
    return reply;
}

QList<ItemOutcome> Quarantine::restoreContents(const QuarantineRecord &record, const LogicalPath &kept,
                                              const LogicalPath &target)
{
    const Volume &volume = *Volume::current();
    const std::optional<platform::ItemStatus> quarantined = volume.status(kept, Follow::NotFinal);
    if (!quarantined)
        return {outcome(record.path, Kind::Gone)};
    if (!quarantined->isDirectory() || (record.inode != 0 && quarantined->inode != record.inode))
        return {outcome(record.path, Kind::Failed,
                        QStringLiteral("the quarantined item is not what was moved there: it is left alone"))};
    // Answered entry by entry, as they were asked for.
    const QStringList names = volume.list(kept).value_or(QStringList());
    QList<ItemOutcome> out;
    // The empty folder that took its place makes way for the folder itself;
    // one that holds anything by now stays.
    if (const std::optional<platform::ItemStatus> there = volume.status(target, Follow::NotFinal); there && there->isDirectory())
        volume.removeEmptyFolders({target});
    Volume::MoveHooks hooks;
    hooks.check = [&](qsizetype, const Volume::Moved &found) {
        return found.status.inode == quarantined->inode ? QString() : QStringLiteral("the quarantined item changed");
    };
    const Volume::Moved whole = volume.moveItems({{kept, target}}, Volume::Reach::Whole, hooks).value(0);
    if (whole.outcome == Volume::Moved::Done || whole.error != EEXIST) {
        for (const QString &name : names)
            out.append(whole.outcome == Volume::Moved::Done
                           ? outcome(target.child(name).toString(), Kind::Removed)
                           : outcome(target.child(name).toString(), Kind::Failed, whole.reason, whole.error));
        return out;
    }
    // Something is there: each entry whose place is free comes back into it.
    QList<Volume::Move> moves;
    for (const QString &name : names)
        moves.append({kept.child(name), target.child(name)});
    const QList<Volume::Moved> moved = volume.moveItems(moves, Volume::Reach::Whole);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString path = moves[i].to.toString();
        out.append(moved[i].outcome == Volume::Moved::Done ? outcome(path, Kind::Removed)
                   : moved[i].error == EEXIST
                       ? outcome(path, Kind::Failed, QStringLiteral("its place is taken: it stays in the quarantine"), EEXIST)
                       : outcome(path, Kind::Failed, moved[i].reason, moved[i].error));
    }
    volume.removeEmptyFolders({kept});
    return out;
}

helperwire::Reply Quarantine::empty(const QString &run)
{
    helperwire::Reply reply;
    if (!manifestOf(run)) {
        reply.items.append(outcome(run, Kind::Refused, QStringLiteral("no such run in the quarantine")));
        return reply;
    }
    if (m_run == run) {
        m_manifest.reset();
        m_run.clear();
    }
    const Volume::Removal removal = Volume::current()->removeTrees({runFolder(run)}).value(0);
    reply.items.append(removal.outcome == Volume::Removal::Failed ? outcome(run, Kind::Failed, removal.reason, removal.error)
                                                                  : outcome(run, Kind::Removed));
    return reply;
}

helperwire::Reply Quarantine::list(const QString &run)
{
    const Volume &volume = *Volume::current();
    QStringList runs{run};
    if (run.isEmpty()) {
        runs = volume.list(helperwire::quarantinePath()).value_or(QStringList());
        runs.sort();
    }
    QJsonArray described;
    for (const QString &name : std::as_const(runs)) {
        const std::optional<QuarantineManifest> manifest = manifestOf(name);
        if (!manifest)
            continue;
        const QStringList kept = volume.list(itemsFolder(name)).value_or(QStringList());
        const QSet<QString> present(kept.cbegin(), kept.cend());
        qint64 count = 0;
        quint64 bytes = 0;
        QJsonArray paths;
        for (const QuarantineRecord &record : manifest->records) {
            if (record.number.isEmpty() || !present.contains(record.number))
                continue;
            // A folder that moved whole counts what it still holds.
            count += record.entries > 0
                         ? volume.list(itemsFolder(name).child(record.number)).value_or(QStringList()).size()
                         : 1;
            bytes += record.bytes;
            if (!run.isEmpty() && paths.size() < kListedPaths)
                paths.append(record.path);
        }
        QJsonObject object{{QStringLiteral("run"), name},
                           {QStringLiteral("created"), manifest->created.toString(Qt::ISODate)},
                           {QStringLiteral("packages"), QJsonArray::fromStringList(manifest->packages)},
                           {QStringLiteral("items"), count},
                           {QStringLiteral("bytes"), qint64(bytes)}};
        if (!run.isEmpty())
            object.insert(QStringLiteral("paths"), paths);
        described.append(object);
    }
    helperwire::Reply reply;
    if (!run.isEmpty() && described.isEmpty())
        reply.items.append(outcome(run, Kind::Refused, QStringLiteral("no such run in the quarantine")));
    reply.text = QString::fromUtf8(QJsonDocument(described).toJson(QJsonDocument::Compact));
    return reply;
}

} // namespace helpertool
