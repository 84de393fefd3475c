#pragma once

#include "helperwire/HelperReply.h"
#include "platform/Volume.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace helpertool {

// One line of a run's manifest.
struct QuarantineRecord
{
    enum class Kind { Item, Folder, Receipt };
    Kind kind = Kind::Item;
    QString number;   // the item's name in the run's folder; none for a folder, which goes empty
    QString path;     // where it was, spelled as its request spelled it
    platform::ItemStatus::Type type = platform::ItemStatus::Type::File;
    unsigned mode = 0;
    quint32 owner = 0;
    quint32 group = 0;
    quint64 bytes = 0;
    quint64 inode = 0;
    bool forGood = false;   // it could not be kept, and was removed instead
    // A folder whose whole content moved with it, this many entries, while
    // an empty folder like it took its place; 0 for an item that moved itself.
    qint64 entries = 0;
};

// What a run's manifest says: who, when, and every item in the order it
// was recorded.
struct QuarantineManifest
{
    QString run;
    QDateTime created;
    QStringList packages;
    QList<QuarantineRecord> records;

    // The manifest's text; a last line cut short (a run killed while it
    // wrote) is left out, the lines before it count.
    static std::optional<QuarantineManifest> parse(const QByteArray &text);
    static QByteArray headerLine(const QString &run, const QDateTime &created, const QStringList &packages);
    static QByteArray recordLine(const QuarantineRecord &record);
    static QByteArray forGoodLine(const QString &number);
};

// The volume's quarantine: one root-only folder per uninstall run, under
// helperwire::quarantinePath(), holding the run's "manifest" and, in its
// "items" folder, each item that went, renamed to its number. An item is
// recorded (and the record synced) before it moves, so a run cut short at
// any point leaves a manifest that tells what may have moved. Only runs
// with a manifest written here are listed, restored and emptied; every
// path is reached through the volume's door, never through a link.
class Quarantine
{
public:
    // Moves the items into the run's quarantine (made on its first use,
    // for these packages). An item that cannot be renamed there is removed
    // instead and answered RemovedForGood; a folder holding an immutable
    // item or a mount point moves entry by entry, and what cannot move is
    // left and reported. `sent` is each path as the request spelled it.
    QList<helperwire::ItemOutcome> moveAside(const QString &run, const QStringList &packages,
                                             const QList<platform::LogicalPath> &paths, const QStringList &sent,
                                             platform::Volume::Reach reach, QuarantineRecord::Kind kind);

    // Records the folders' modes and owners before they go empty, so that
    // undo makes them again as they were; then removes them as
    // Volume::removeEmptyFolders() does.
    QList<platform::Volume::Removal> removeEmptyFolders(const QString &run, const QStringList &packages,
                                                        const QList<platform::LogicalPath> &folders);

    // Puts every kept item of the run back where it was: its missing
    // folders first, then its items, its receipts last. An item whose
    // place is taken stays in the quarantine; one whose quarantined entry
    // is not what was moved there is left alone. The run goes once nothing
    // of it is left.
    helperwire::Reply restore(const QString &run);
    helperwire::Reply empty(const QString &run);

    // Every run, or one run with its paths, as the JSON text of a reply.
    helperwire::Reply list(const QString &run);

private:
    bool openRun(const QString &run, const QStringList &packages, QString *error);
    void moveObstructed(const platform::LogicalPath &folder, platform::Volume::Reach reach, QuarantineRecord::Kind kind);
    // Runs of items that are a folder's whole content move with the folder;
    // true for each item that went so.
    QList<bool> moveWholeFolders(const QList<platform::LogicalPath> &paths, QuarantineRecord::Kind kind);
    QList<helperwire::ItemOutcome> restoreContents(const QuarantineRecord &record, const platform::LogicalPath &kept,
                                                   const platform::LogicalPath &target);
    QList<platform::Volume::Moved> moveRecorded(const QList<platform::LogicalPath> &paths,
                                                platform::Volume::Reach reach, QuarantineRecord::Kind kind,
                                                QStringList *numbers);
    std::optional<QuarantineManifest> manifestOf(const QString &run) const;

    // The run being written: the helper serves one request at a time, and
    // the requests of an uninstall come one after the other.
    QString m_run;
    std::optional<platform::AppendOnlyFile> m_manifest;
    qint64 m_nextNumber = 1;
};

} // namespace helpertool
