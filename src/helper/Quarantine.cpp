#include "Quarantine.h"
#include "QuarantineLayout.h"

#include "helperwire/HelperLabel.h"
#include "helperwire/HelperRequest.h"

#include <QFile>

#include <cerrno>

namespace helpertool {

namespace {

using namespace quarantine;

constexpr qint64 kManifestLimit = qint64(512) * 1024 * 1024;

// Errors that say the file system cannot rename there at all, so keeping
// the item would mean copying it: it is removed as before instead.
bool renameImpossible(int error)
{
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

} // namespace

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
} // namespace helpertool
