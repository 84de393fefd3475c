#pragma once

#include "dorvane/catalogue/PathTable.h"
#include "dorvane/receipts/PackageRecord.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <vector>

namespace dorvane {

// Everything one scan learns about the installed packages. The package lists
// are plain values; the paths and the maps between paths and packages are
// kept in one shared, read-only block (paths interned, maps holding numbers),
// so a copy of the catalogue costs next to nothing and the texts are made
// only for the callers that show them.
class Catalogue
{
public:
    using PathId = PathTable::Id;

    Catalogue();

    // Packages whose installer is not ignored, in receipt-store order: the
    // source of the list.
    QList<PackageRecord> installerPackages;
    // Packages kept out because their installer is ignored; never listed.
    QList<PackageRecord> allPackages;
    // Packages that installed an application into /Applications/, once per
    // application; and those whose application is gone.
    QStringList applicationPackageIdentifiers;
    QStringList defunctappPackageIdentifiers;

    // The listed package's corrected absolute paths, in its bill's order with
    // repeats; empty for a package that is not listed.
    QStringList filesForPackage(const QString &identifier) const;
    QList<PathId> fileIdsForPackage(const QString &identifier) const;
    bool hasFilesFor(const QString &identifier) const;

    // The identifiers of every package that lists the path, kept-out ones
    // included, in scan order, with repeats.
    QStringList packagesForFile(const QString &path) const;
    QStringList packagesForFile(PathId id) const;
    // Some of the catalogue's packages, chosen once by a test of each one's
    // identifier and whether its receipt is the user's own (in
    // ~/Library/Receipts), so that asking about many paths looks up no
    // identifier per path. Forgotten packages are never in it. A set
    // belongs to the catalogue that made it, as that was when it was made.
    class PackageSet
    {
    public:
        bool contains(quint32 package) const { return package < m_members.size() && m_members[package]; }

    private:
        friend class Catalogue;
        std::vector<bool> m_members;   // by package number
    };
    template<typename Test>
    PackageSet packagesWhere(const Test &test) const
    {
        PackageSet set;
        set.m_members.resize(size_t(m_data->packages.size()));
        for (qsizetype i = 0; i < m_data->packages.size(); ++i) {
            const QString &identifier = m_data->packages.at(i);
            set.m_members[size_t(i)] = !isForgotten(identifier) && test(identifier, bool(m_data->userReceipts[size_t(i)]));
        }
        return set;
    }
    // Whether a package of the set lists the path.
    bool listedByAny(PathId id, const PackageSet &set) const;

    // Takes an uninstalled package out without a new scan: it leaves both
    // package lists, has no files any more, and no longer counts as an
    // owner of its paths, so a path it shared keeps only the other
    // packages. Copies made before keep seeing it.
    void forgetPackage(const PackageRecord &package);
    bool isForgotten(const QString &identifier) const { return m_forgotten.contains(identifier); }

    std::optional<PathId> pathId(const QString &path) const { return m_data->paths.find(path); }
    QString path(PathId id) const { return m_data->paths.path(id); }
    const PathTable &paths() const { return m_data->paths; }

    // --- building, by the scan only, before anybody holds a copy ---

    // Records that the package lists the path; the package's number comes
    // from addPackage().
    PathId addFile(const QString &path, quint32 package);
    PathId addFile(const FoldedPaths &paths, qsizetype i, quint32 package);
    quint32 addPackage(const QString &identifier, bool userReceipt = false);
    void setFilesForPackage(const QString &identifier, QList<PathId> ids);

private:
    struct Data
    {
        PathTable paths;
        QStringList packages;                          // every scanned package's identifier, by number
        std::vector<bool> userReceipts;                // per package: its receipt is the user's own
        std::vector<quint32> firstOwner;               // per path: the first package that lists it
        QHash<PathId, QList<quint32>> moreOwners;      // per path: the packages after the first
        QHash<QString, QList<PathId>> files;           // listed package -> its paths
    };
    PathId addOwner(PathId id, quint32 package);

    std::shared_ptr<Data> m_data;
    // The shared block is read-only once scanned; what was forgotten since
    // is kept beside it, per copy.
    QSet<QString> m_forgotten;
};

} // namespace dorvane
