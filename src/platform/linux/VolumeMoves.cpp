// Moves through the volume door on Linux: items and whole folders renamed
// in batches, never over an existing item, with no link on the way.

#include "DoorParts.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

using namespace door;

namespace {

// What a walk through a folder found: its files' bytes, and the first item
// that keeps it from moving whole (an immutable item, a mount point, a
// folder that cannot be read).
struct TreeSurvey
{
    quint64 bytes = 0;
    QString obstacle;
    int error = 0;
};

void surveyEntries(int folder, quint64 mountId, int depth, TreeSurvey &survey)
{
    constexpr int kMaxDepth = 512;
    const std::optional<QList<VolumeFolder::Entry>> entries = readEntries(folder);
    if (!entries) {
        survey.obstacle = errorText(errno);
        survey.error = errno;
        return;
    }
    for (const VolumeFolder::Entry &entry : *entries) {
        const std::optional<ItemStatus> status = statusAt(folder, entry.name.constData());
        if (!status)
            continue; // gone meanwhile
        if (status->immutable) {
            survey.obstacle = QStringLiteral("%1: the item is immutable").arg(QFile::decodeName(entry.name));
            survey.error = EPERM;
            return;
        }
        if (!status->isDirectory()) {
            survey.bytes += status->isFile() ? status->size : 0;
            continue;
        }
        const Descriptor child(::openat(folder, entry.name.constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        if (!child.isValid() || !onMount(child.get(), mountId) || depth >= kMaxDepth) {
            survey.obstacle = child.isValid() ? kMountPoint : errorText(errno);
            survey.error = child.isValid() ? EBUSY : errno;
            return;
        }
        surveyEntries(child.get(), mountId, depth + 1, survey);
        if (!survey.obstacle.isEmpty())
            return;
    }
}

// The folders of one batch of moves, each opened once.
class BatchFolders
{
public:
    explicit BatchFolders(std::function<int(const LogicalPath &)> open) : m_open(std::move(open)) {}
    // The slot of the folder's descriptor, or -1 with *error.
    int slotOf(const LogicalPath &folder, int *error)
    {
        const auto found = m_slots.constFind(folder);
        const int slot = found != m_slots.cend() ? *found : int(m_descriptors.size());
        if (found == m_slots.cend()) {
            const int fd = m_open(folder);
            m_errors.push_back(fd < 0 ? errno : 0);
            m_descriptors.emplace_back(fd);
            m_slots.insert(folder, slot);
        }
        *error = m_errors[size_t(slot)];
        return m_descriptors[size_t(slot)].isValid() ? slot : -1;
    }
    int descriptor(int slot) const { return m_descriptors[size_t(slot)].get(); }
    size_t size() const { return m_descriptors.size(); }
    void clear()
    {
        m_slots.clear();
        m_descriptors.clear();
        m_errors.clear();
    }

private:
    std::function<int(const LogicalPath &)> m_open;
    QHash<LogicalPath, int> m_slots;
    std::vector<Descriptor> m_descriptors;
    std::vector<int> m_errors;
};

Volume::Moved missingMove()
{
    Volume::Moved moved;
    moved.outcome = Volume::Moved::Missing;
    moved.error = ENOENT;
    return moved;
}

Volume::Moved failedMove(const QString &reason, int error)
{
    Volume::Moved moved;
    moved.reason = reason;
    moved.error = error;
    return moved;
}

} // namespace

QList<Volume::Moved> Volume::moveItems(const QList<Move> &moves, Reach reach, const MoveHooks &hooks) const
{
    // A batch is recorded with one call (one sync of a journal), and holds
    // a descriptor per folder it touches.
    constexpr qsizetype kBatchItems = 4096;
    constexpr size_t kBatchFolders = 256;
    QList<Moved> results(moves.size());
    BatchFolders folders([this](const LogicalPath &folder) {
        return openInside(folder, O_PATH | O_DIRECTORY, kRemovalResolve);
    });
    struct Pending
    {
        int from;
        int to;
        QByteArray fromName;
        QByteArray toName;
    };
    QList<Pending> pending;
    QList<qsizetype> indices;
    std::optional<LogicalPath> fromFolder, toFolder;
    int fromSlot = -1, toSlot = -1, fromError = 0, toError = 0;
    const auto flush = [&] {
        const bool go = indices.isEmpty() || !hooks.commit || hooks.commit();
        for (qsizetype k = 0; k < indices.size(); ++k) {
            Moved &moved = results[indices[k]];
            const Pending &p = pending[k];
            if (!go) {
                moved.reason = QStringLiteral("it could not be recorded before it moved");
                moved.error = EIO;
            } else if (::renameat2(folders.descriptor(p.from), p.fromName.constData(), folders.descriptor(p.to),
                                   p.toName.constData(), RENAME_NOREPLACE) == 0) {
                moved.outcome = Moved::Done;
            } else {
                moved.outcome = errno == ENOENT ? Moved::Missing : Moved::Failed;
                moved.reason = errno == ENOENT ? QString() : errorText(errno);
                moved.error = errno;
            }
        }
        pending.clear();
        indices.clear();
        folders.clear();
        fromFolder.reset();
        toFolder.reset();
    };
    // A file swapped for a folder between the look and the rename moves
    // whole; it moves into a quarantine, from which undo brings it back.
    for (qsizetype i = 0; i < moves.size(); ++i) {
        const Move &move = moves[i];
        const std::optional<QByteArray> fromName = cName(move.from.name());
        const std::optional<QByteArray> toName = cName(move.to.name());
        if (move.from.isRoot() || move.to.isRoot() || !fromName || !toName) {
            results[i] = failedMove(QStringLiteral("the volume's root is never moved"), EINVAL);
            continue;
        }
        // Runs of items share their folders: looked up once per run.
        if (!fromFolder || !move.from.isChildOf(*fromFolder)) {
            fromFolder = move.from.parent();
            fromSlot = folders.slotOf(*fromFolder, &fromError);
        }
        if (!toFolder || !move.to.isChildOf(*toFolder)) {
            toFolder = move.to.parent();
            toSlot = folders.slotOf(*toFolder, &toError);
        }
        const int from = fromSlot;
        const int to = from < 0 ? -1 : toSlot;
        if (from < 0 || to < 0) {
            const int error = from < 0 ? fromError : toError;
            results[i] = from < 0 && error == ENOENT ? missingMove() : failedMove(errorText(error), error);
            continue;
        }
        const std::optional<ItemStatus> status = statusAt(folders.descriptor(from), fromName->constData());
        if (!status) {
            results[i] = errno == ENOENT ? missingMove() : failedMove(errorText(errno), errno);
            continue;
        }
        Moved &moved = results[i];
        moved.status = *status;
        moved.bytes = status->isFile() ? status->size : 0;
        if (status->immutable) {
            moved.reason = QStringLiteral("the item is immutable");
            moved.error = EPERM;
            continue;
        }
        if (status->isDirectory()) {
            if (reach == Reach::ItemOnly) {
                moved.reason = QStringLiteral("a folder: it goes only as an empty folder, on its own request");
                moved.error = EISDIR;
                continue;
            }
            const Descriptor folder(::openat(folders.descriptor(from), fromName->constData(),
                                             O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
            const std::optional<MountOf> parentMount = mountOf(folders.descriptor(from));
            if (!folder.isValid() || !parentMount || !onMount(folder.get(), parentMount->id)) {
                moved.reason = folder.isValid() ? kMountPoint : errorText(errno);
                moved.error = folder.isValid() ? EBUSY : errno;
                continue;
            }
            TreeSurvey survey;
            surveyEntries(folder.get(), parentMount->id, 0, survey);
            moved.bytes = survey.bytes;
            if (!survey.obstacle.isEmpty()) {
                moved.reason = survey.obstacle;
                moved.error = survey.error;
                moved.obstructed = true;
                continue;
            }
        }
        if (hooks.check) {
            moved.reason = hooks.check(i, moved);
            if (!moved.reason.isEmpty()) {
                moved.error = EPERM;
                continue;
            }
        }
        pending.append({from, to, *fromName, *toName});
        indices.append(i);
        if (pending.size() >= kBatchItems || folders.size() >= kBatchFolders)
            flush();
    }
    flush();
    return results;
}

QList<bool> Volume::moveFolderContents(const QList<FolderContents> &folders, const ContentsHooks &hooks) const
{
    // Two descriptors are held per folder of a batch.
    constexpr qsizetype kBatchFolders = 128;
    QList<bool> moved(folders.size(), false);
    struct Pending
    {
        qsizetype index;
        Descriptor parent;
        Descriptor toParent;
        QByteArray name;
        QByteArray toName;
        ItemStatus status;
    };
    std::vector<Pending> pending;
    const auto flush = [&] {
        if (pending.empty() || (hooks.commit && !hooks.commit())) {
            pending.clear();
            return;
        }
        for (const Pending &p : pending) {
            if (::renameat2(p.parent.get(), p.name.constData(), p.toParent.get(), p.toName.constData(), RENAME_NOREPLACE) != 0)
                continue;
            moved[p.index] = true;
            // Anything put in meanwhile went along, into the quarantine,
            // from where undo brings it back. The new folder is opened to
            // others only once it is theirs.
            if (::mkdirat(p.parent.get(), p.name.constData(), 0700) == 0) {
                const Descriptor made(::openat(p.parent.get(), p.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (made.isValid() && ::fchown(made.get(), p.status.owner, p.status.group) == 0)
                    ::fchmod(made.get(), mode_t(p.status.mode));
            }
        }
        pending.clear();
    };
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const FolderContents &contents = folders[i];
        const std::optional<QByteArray> name = cName(contents.folder.name());
        const std::optional<QByteArray> toName = cName(contents.to.name());
        if (contents.folder.isRoot() || contents.to.isRoot() || !name || !toName)
            continue;
        Descriptor parent(openInside(contents.folder.parent(), O_PATH | O_DIRECTORY, kRemovalResolve));
        Descriptor toParent(openInside(contents.to.parent(), O_PATH | O_DIRECTORY, kRemovalResolve));
        if (!parent.isValid() || !toParent.isValid())
            continue;
        const Descriptor opened(::openat(parent.get(), name->constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        const std::optional<MountOf> parentMount = mountOf(parent.get());
        if (!opened.isValid() || !parentMount || !onMount(opened.get(), parentMount->id))
            continue;
        const std::optional<ItemStatus> status = statusAt(opened.get(), "");
        const std::optional<QList<VolumeFolder::Entry>> entries = readEntries(opened.get());
        if (!status || status->immutable || !entries || entries->size() != contents.names.size())
            continue;
        quint64 bytes = 0;
        bool only = true;
        for (const VolumeFolder::Entry &entry : *entries) {
            const std::optional<ItemStatus> item =
                contents.names.contains(entry.name) ? statusAt(opened.get(), entry.name.constData()) : std::nullopt;
            if (!item || item->isDirectory() || item->immutable) {
                only = false;
                break;
            }
            bytes += item->isFile() ? item->size : 0;
        }
        if (!only || (hooks.check && !hooks.check(i, *status, bytes)))
            continue;
        pending.push_back({i, std::move(parent), std::move(toParent), *name, *toName, *status});
        if (qsizetype(pending.size()) >= kBatchFolders)
            flush();
    }
    flush();
    return moved;
}

} // namespace platform
