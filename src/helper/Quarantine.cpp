#include "Quarantine.h"

#include "helperwire/HelperLabel.h"
#include "helperwire/HelperRequest.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cerrno>

namespace helper {

namespace {

using helperwire::ItemOutcome;
using platform::Follow;
using platform::LogicalPath;
using platform::Volume;
using Kind = ItemOutcome::Kind;
using Type = platform::ItemStatus::Type;

constexpr qint64 kManifestLimit = qint64(512) * 1024 * 1024;
// What one listing of a run names; the count says how many more there are.
constexpr qsizetype kListedPaths = 1000;

const char *const kTypeNames[] = {"file", "folder", "link", "other"};   // by Type
const char *const kKindNames[] = {"item", "folder", "receipt"};          // by QuarantineRecord::Kind

LogicalPath runFolder(const QString &run)
{
    return helperwire::quarantinePath().child(run);
}

LogicalPath itemsFolder(const QString &run)
{
    return runFolder(run).child(u"items");
}

LogicalPath manifestPath(const QString &run)
{
    return runFolder(run).child(u"manifest");
}

// Errors that say the file system cannot rename there at all, so keeping
// the item would mean copying it: it is removed as before instead.
bool renameImpossible(int error)
{
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

// A JSON string, written by hand: a package's hundred thousand records are
// written while the user waits.
void appendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

template<typename Array>
int indexOfName(const Array &names, const QString &name)
{
    const auto found = std::find_if(std::begin(names), std::end(names),
                                    [&](const char *candidate) { return name == QLatin1String(candidate); });
    return found == std::end(names) ? -1 : int(found - std::begin(names));
}

ItemOutcome outcome(const QString &item, Kind kind, const QString &reason = QString(), int error = 0)
{
    return {item, kind, reason, error};
}

} // namespace

// --- the manifest ---

QByteArray QuarantineManifest::headerLine(const QString &run, const QDateTime &created, const QStringList &packages)
{
    const QJsonObject header{{QStringLiteral("run"), run},
                             {QStringLiteral("created"), created.toUTC().toString(Qt::ISODate)},
                             {QStringLiteral("packages"), QJsonArray::fromStringList(packages)}};
    return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray QuarantineManifest::recordLine(const QuarantineRecord &record)
{
    QByteArray line;
    line.reserve(160 + record.path.size());
    line += "{\"kind\":\"";
    line += kKindNames[int(record.kind)];
    line += "\",\"n\":";
    appendJsonString(line, record.number);
    line += ",\"path\":";
    appendJsonString(line, record.path);
    line += ",\"type\":\"";
    line += kTypeNames[int(record.type)];
    line += "\",\"mode\":" + QByteArray::number(record.mode) + ",\"owner\":" + QByteArray::number(record.owner)
            + ",\"group\":" + QByteArray::number(record.group) + ",\"bytes\":" + QByteArray::number(record.bytes)
            + ",\"inode\":" + QByteArray::number(record.inode);
    if (record.entries > 0)
        line += ",\"entries\":" + QByteArray::number(record.entries);
    return line + "}\n";
}

QByteArray QuarantineManifest::forGoodLine(const QString &number)
{
    QByteArray line = "{\"forGood\":";
    appendJsonString(line, number);
    return line + "}\n";
}

std::optional<QuarantineManifest> QuarantineManifest::parse(const QByteArray &text)
{
    QuarantineManifest manifest;
    QHash<QString, qsizetype> byNumber;
    bool first = true;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (first) {
            first = false;
            manifest.run = object.value(u"run").toString();
            manifest.created = QDateTime::fromString(object.value(u"created").toString(), Qt::ISODate);
            for (const QJsonValue &package : object.value(u"packages").toArray())
                manifest.packages.append(package.toString());
            if (manifest.run.isEmpty() || !manifest.created.isValid())
                return std::nullopt;
            continue;
        }
        // A line cut short by a run killed while it wrote parses as nothing.
        if (object.contains(u"forGood")) {
            if (const auto found = byNumber.constFind(object.value(u"forGood").toString()); found != byNumber.cend())
                manifest.records[*found].forGood = true;
            continue;
        }
        QuarantineRecord record;
        const int kind = indexOfName(kKindNames, object.value(u"kind").toString());
        const int type = indexOfName(kTypeNames, object.value(u"type").toString());
        record.path = object.value(u"path").toString();
        if (kind < 0 || type < 0 || record.path.isEmpty())
            continue;
        record.kind = QuarantineRecord::Kind(kind);
        record.type = Type(type);
        record.number = object.value(u"n").toString();
        record.mode = unsigned(object.value(u"mode").toInteger());
        record.owner = quint32(object.value(u"owner").toInteger());
        record.group = quint32(object.value(u"group").toInteger());
        record.bytes = quint64(object.value(u"bytes").toInteger());
        record.inode = quint64(object.value(u"inode").toInteger());
        record.entries = object.value(u"entries").toInteger();
        if (!record.number.isEmpty())
            byNumber.insert(record.number, manifest.records.size());
        manifest.records.append(record);
    }
    if (first)
        return std::nullopt;
    return manifest;
}

// --- keeping ---

std::optional<QuarantineManifest> Quarantine::manifestOf(const QString &run) const
{
    if (!helperwire::runIdRefusal(run).isEmpty())
        return std::nullopt;
    const Volume &volume = *Volume::current();
    // Only a real folder with a real manifest is a run: nothing is read or
    // restored through a link put in the quarantine's place.
    const std::optional<platform::ItemStatus> folder = volume.status(runFolder(run), Follow::NotFinal);
    const std::optional<platform::ItemStatus> file = volume.status(manifestPath(run), Follow::NotFinal);
    if (!folder || !folder->isDirectory() || !file || !file->isFile())
        return std::nullopt;
    const std::optional<QByteArray> text = volume.readFile(manifestPath(run), kManifestLimit);
    std::optional<QuarantineManifest> manifest = text ? QuarantineManifest::parse(*text) : std::nullopt;
    if (manifest && manifest->run != run)
        return std::nullopt;
    return manifest;
}

bool Quarantine::openRun(const QString &run, const QStringList &packages, QString *error)
{
    if (m_manifest && m_run == run)
        return true;
    m_manifest.reset();
    m_run.clear();
    const Volume &volume = *Volume::current();
    const LogicalPath store = helperwire::quarantinePath();
    // Root's alone: nobody else may read what was removed, or put anything
    // among it for undo to bring back.
    if (!volume.status(store, Follow::NotFinal)
        && (!volume.makeFolders(store.parent(), error) || !volume.makeFolder(store, 0700, std::nullopt, error)))
        return false;
    const std::optional<QuarantineManifest> existing = manifestOf(run);
    int number = 0;
    if (!existing) {
        for (const LogicalPath &folder : {runFolder(run), itemsFolder(run)}) {
            if (!volume.makeFolder(folder, 0700, std::nullopt, error, &number) && number != EEXIST)
                return false;
        }
    }
    m_manifest = platform::AppendOnlyFile::opened(volume, manifestPath(run), 0600, error);
    if (!m_manifest)
        return false;
    if (!existing
        && !m_manifest->append(QuarantineManifest::headerLine(run, QDateTime::currentDateTimeUtc(), packages), true)) {
        m_manifest.reset();
        *error = QStringLiteral("the manifest cannot be written");
        return false;
    }
    m_nextNumber = 1;
    for (const QuarantineRecord &record : existing ? existing->records : QList<QuarantineRecord>())
        m_nextNumber = std::max(m_nextNumber, record.number.toLongLong() + 1);
    m_run = run;
    return true;
}

QList<Volume::Moved> Quarantine::moveRecorded(const QList<LogicalPath> &paths, Volume::Reach reach,
                                              QuarantineRecord::Kind kind, QStringList *numbers)
{
    const LogicalPath items = itemsFolder(m_run);
    QList<Volume::Move> moves;
    moves.reserve(paths.size());
    numbers->clear();
    for (const LogicalPath &path : paths) {
        numbers->append(QString::number(m_nextNumber++));
        moves.append({path, items.child(numbers->last())});
    }
    // Each batch's records are synced before any item of it moves.
    QByteArray lines;
    Volume::MoveHooks hooks;
    hooks.check = [&](qsizetype i, const Volume::Moved &found) {
        lines += QuarantineManifest::recordLine({kind, numbers->at(i), paths[i].toString(), found.status.type,
                                                 found.status.mode, found.status.owner, found.status.group,
                                                 found.bytes, found.status.inode, false});
        return QString();
    };
    hooks.commit = [&] {
        const bool written = m_manifest->append(lines, true);
        lines.clear();
        return written;
    };
    return Volume::current()->moveItems(moves, reach, hooks);
}

QList<ItemOutcome> Quarantine::moveAside(const QString &run, const QStringList &packages,
                                         const QList<LogicalPath> &paths, const QStringList &sent,
                                         Volume::Reach reach, QuarantineRecord::Kind kind)
{
    QList<ItemOutcome> out;
    out.reserve(paths.size());
    const Volume &volume = *Volume::current();
    QString error;
    if (!openRun(run, packages, &error)) {
        // Nowhere to keep them: removed as before, and said so.
        const QList<Volume::Removal> removals = volume.removeTrees(paths, reach);
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const Volume::Removal &removal = removals[i];
            out.append(removal.outcome == Volume::Removal::Removed
                           ? outcome(sent[i], Kind::RemovedForGood,
                                     QStringLiteral("removed for good: the quarantine cannot be written: %1").arg(error))
                       : removal.outcome == Volume::Removal::Missing ? outcome(sent[i], Kind::Gone)
                                                                    : outcome(sent[i], Kind::Failed, removal.reason, removal.error));
        }
        return out;
    }
    // A folder's whole content goes with one rename of the folder.
    const QList<bool> whole = reach == Volume::Reach::ItemOnly ? moveWholeFolders(paths, kind)
                                                                : QList<bool>(paths.size(), false);
    QList<qsizetype> single;
    QList<LogicalPath> singlePaths;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        out.append(outcome(sent[i], Kind::Removed));
        if (!whole[i]) {
            single.append(i);
            singlePaths.append(paths[i]);
        }
    }
    QStringList numbers;
    const QList<Volume::Moved> singles = moveRecorded(singlePaths, reach, kind, &numbers);
    QList<Volume::Moved> moved(paths.size());
    QStringList numberOf(paths.size());
    for (qsizetype k = 0; k < single.size(); ++k) {
        moved[single[k]] = singles[k];
        numberOf[single[k]] = numbers[k];
    }
    QList<qsizetype> impossible;
    for (qsizetype i : std::as_const(single)) {
        const Volume::Moved &item = moved[i];
        out[i] = item.outcome == Volume::Moved::Done      ? outcome(sent[i], Kind::Removed)
                 : item.outcome == Volume::Moved::Missing ? outcome(sent[i], Kind::Gone)
                                                          : outcome(sent[i], Kind::Failed, item.reason, item.error);
        if (item.obstructed)
            moveObstructed(paths[i], reach, kind);
        else if (item.outcome == Volume::Moved::Failed && renameImpossible(item.error))
            impossible.append(i);
    }
    if (impossible.isEmpty())
        return out;
    QList<LogicalPath> rest;
    for (qsizetype i : std::as_const(impossible))
        rest.append(paths[i]);
    const QList<Volume::Removal> removals = volume.removeTrees(rest, reach);
    QByteArray lines;
    for (qsizetype k = 0; k < impossible.size(); ++k) {
        const qsizetype i = impossible[k];
        if (removals[k].outcome == Volume::Removal::Removed) {
            out[i] = outcome(sent[i], Kind::RemovedForGood,
                             QStringLiteral("removed for good: it cannot be moved into the quarantine (%1)")
                                 .arg(moved[i].reason));
            lines += QuarantineManifest::forGoodLine(numberOf[i]);
        } else if (removals[k].outcome == Volume::Removal::Failed) {
            out[i] = outcome(sent[i], Kind::Failed, removals[k].reason, removals[k].error);
        }
    }
    m_manifest->append(lines, true);
    return out;
}

void Quarantine::moveObstructed(const LogicalPath &folder, Volume::Reach reach, QuarantineRecord::Kind kind)
{
    // What can move goes, entry by entry; the immutable item or mount point
    // stays, with the folders that lead to it.
    QList<LogicalPath> children;
    for (const QString &name : Volume::current()->list(folder).value_or(QStringList()))
        children.append(folder.child(name));
    QStringList numbers;
    const QList<Volume::Moved> moved = moveRecorded(children, reach, kind, &numbers);
    for (qsizetype i = 0; i < children.size(); ++i) {
        if (moved[i].obstructed)
            moveObstructed(children[i], reach, kind);
    }
}

QList<bool> Quarantine::moveWholeFolders(const QList<LogicalPath> &paths, QuarantineRecord::Kind kind)
{
    // A run of at least this many items of one folder is worth a look at
    // the folder's whole content.
    constexpr qsizetype kRunWorthALook = 2;
    QList<bool> moved(paths.size(), false);
    QList<Volume::FolderContents> folders;
    QList<std::pair<qsizetype, qsizetype>> runs;   // the items of each folder, [first, end)
    for (qsizetype start = 0; start < paths.size();) {
        const LogicalPath folder = paths[start].parent();
        qsizetype end = start + 1;
        while (end < paths.size() && paths[end].isChildOf(folder))
            ++end;
        if (end - start >= kRunWorthALook && !folder.isRoot()) {
            Volume::FolderContents contents{folder, {}, itemsFolder(m_run).child(QString::number(m_nextNumber++))};
            for (qsizetype i = start; i < end; ++i)
                contents.names.insert(QFile::encodeName(paths[i].name().toString()));
            folders.append(contents);
            runs.append({start, end});
        }
        start = end;
    }
    if (folders.isEmpty())
        return moved;
    QByteArray lines;
    Volume::ContentsHooks hooks;
    hooks.check = [&](qsizetype i, const platform::ItemStatus &status, quint64 bytes) {
        QuarantineRecord record{kind, folders[i].to.name().toString(), folders[i].folder.toString(), Type::Directory,
                                status.mode, status.owner, status.group, bytes, status.inode, false};
        record.entries = folders[i].names.size();
        lines += QuarantineManifest::recordLine(record);
        return true;
    };
    hooks.commit = [&] {
        const bool written = m_manifest->append(lines, true);
        lines.clear();
        return written;
    };
    const QList<bool> went = Volume::current()->moveFolderContents(folders, hooks);
    for (qsizetype k = 0; k < folders.size(); ++k) {
        for (qsizetype i = runs[k].first; went[k] && i < runs[k].second; ++i)
            moved[i] = true;
    }
    return moved;
}

QList<Volume::Removal> Quarantine::removeEmptyFolders(const QString &run, const QStringList &packages,
                                                      const QList<LogicalPath> &folders)
{
    const Volume &volume = *Volume::current();
    QString error;
    if (openRun(run, packages, &error)) {
        // Written before the folders go, so a run killed now still knows
        // their modes; a lost line only makes undo use the usual mode.
        QByteArray lines;
        for (const LogicalPath &folder : folders) {
            if (const std::optional<platform::ItemStatus> status = volume.status(folder, Follow::NotFinal);
                status && status->isDirectory())
                lines += QuarantineManifest::recordLine({QuarantineRecord::Kind::Folder, QString(), folder.toString(),
                                                         Type::Directory, status->mode, status->owner, status->group, 0,
                                                         status->inode, false});
        }
        m_manifest->append(lines, false);
    }
    return volume.removeEmptyFolders(folders);
}

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

} // namespace helper
