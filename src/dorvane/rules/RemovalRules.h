#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/planning/IgnoredLocations.h"
#include "platform/Volume.h"

#include <QSet>
#include <QStringList>

namespace dorvane {

// What uninstalling the selected packages may remove, judged from the
// volume's own receipts only. The planner asks these questions to make its
// plan, and the privileged helper tool asks them again, as root, of every
// item a client sends: the tool never takes the application's word, since
// anything the user runs can speak for the application.
//
// An item may go when one of these holds:
//   - listed: a selected package lists it, no package outside the selection
//     lists it, it is in no ignored folder and no essential package's;
//   - an application folder: the bundle whose "Contents/MacOS" a selected
//     package lists, when no package outside the selection lists the bundle;
//   - generated: a place where a selected package's application keeps what
//     it generates (GeneratedItems), under the same two conditions.
// A package whose receipt lies in the user's own receipts folder was
// written by the user: it justifies only paths inside that user's home.
// Paths compare by the volume's file identity (LogicalPath).
// The rules judge by the catalogue as it was when they were made.
class RemovalRules
{
public:
    RemovalRules(const Catalogue &catalogue, const QStringList &selection, const IgnoredLocations &ignored,
                 std::shared_ptr<const platform::Volume> volume);

    bool isSelected(const QString &identifier) const { return m_selection.contains(identifier); }
    bool isIgnored(const platform::LogicalPath &path) const { return m_ignored.contains(path); }
    // Whether a package outside the selection lists the path, kept-out
    // packages included.
    bool listedByOthers(Catalogue::PathId id) const;
    // The packages outside the selection that list it, in scan order.
    QStringList others(Catalogue::PathId id) const;
    // Whether a selected package's receipt may speak for the path: a
    // system or legacy receipt anywhere, the user's own receipt only inside
    // the home folder.
    bool justifiedBySelection(Catalogue::PathId id, const platform::LogicalPath &path) const;

    // An application bundle that an unselected package lists too may be
    // that package's as much as ours, and so may everything it generated.
    bool overlapsUnselected(const PackageRecord &record) const;
    // The record's application folders, and the places of what its
    // applications generated, in the order the planner tests them; names
    // that would name a Library folder itself are left out
    // (GeneratedItems::isUsableName()), and so is another package's own
    // item. Empty for an essential package and one that overlaps an
    // unselected one.
    QList<platform::LogicalPath> applicationFolders(const PackageRecord &record) const;
    QList<platform::LogicalPath> generatedCandidates(const PackageRecord &record) const;

    // --- the helper tool's questions ---

    enum class Ground { None, Listed, Application, Generated };
    struct Verdict
    {
        Ground ground = Ground::None;
        QString reason;   // why not, when there is no ground
        bool accepted() const { return ground != Ground::None; }
    };
    // A file or link to remove by itself, or a folder to remove whole
    // (an application folder, a generated item).
    Verdict mayRemove(const platform::LogicalPath &path) const;
    // A folder to remove when it is empty.
    Verdict mayRemoveEmptyFolder(const platform::LogicalPath &folder) const;
    // A process running this executable: only one inside what may go.
    Verdict mayEnd(const platform::LogicalPath &executable) const;
    // A receipt to forget: a selected, non-essential package's.
    Verdict mayForget(const QString &identifier) const;

    // The selected records, kept-out ones included.
    const QList<PackageRecord> &selectedRecords() const { return m_records; }

private:
    Verdict listed(const platform::LogicalPath &path) const;
    bool mayJustify(const PackageRecord &record, const platform::LogicalPath &path) const;

    const Catalogue &m_catalogue;
    QSet<QString> m_selection;
    const IgnoredLocations &m_ignored;
    std::shared_ptr<const platform::Volume> m_volume;
    QList<PackageRecord> m_records;
    // Every selected record's application folders and generated items,
    // made once: the tool asks about each of a package's many paths.
    QSet<platform::LogicalPath> m_applicationFolders;
    QSet<platform::LogicalPath> m_generated;
    // The packages by kind, chosen once: the planner asks about every
    // listed path.
    Catalogue::PackageSet m_unselected;
    Catalogue::PackageSet m_selected;
    Catalogue::PackageSet m_selectedSystemReceipts;
    Catalogue::PackageSet m_selectedUserReceipts;
    Catalogue::PackageSet m_essentialSelected;
};

} // namespace dorvane
