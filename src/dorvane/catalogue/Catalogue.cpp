#include "dorvane/catalogue/Catalogue.h"

namespace dorvane {

Catalogue::Catalogue()
    : m_data(std::make_shared<Data>())
{
}

QStringList Catalogue::filesForPackage(const QString &identifier) const
{
    QStringList out;
    if (isForgotten(identifier))
        return out;
    const auto files = m_data->files.constFind(identifier);
    if (files == m_data->files.cend())
        return out;
    out.reserve(files->size());
    for (const PathId id : *files)
        out.append(m_data->paths.path(id));
    return out;
}

QList<Catalogue::PathId> Catalogue::fileIdsForPackage(const QString &identifier) const
{
    return isForgotten(identifier) ? QList<PathId>() : m_data->files.value(identifier);
}

bool Catalogue::hasFilesFor(const QString &identifier) const
{
    return !isForgotten(identifier) && m_data->files.contains(identifier);
}

QStringList Catalogue::packagesForFile(const QString &path) const
{
    const std::optional<PathId> id = m_data->paths.find(path);
    return id ? packagesForFile(*id) : QStringList();
}

QStringList Catalogue::packagesForFile(PathId id) const
{
    QStringList out;
    if (id >= m_data->firstOwner.size())
        return out;
    const auto add = [&](quint32 package) {
        const QString &identifier = m_data->packages.at(package);
        if (!isForgotten(identifier))
            out.append(identifier);
    };
    add(m_data->firstOwner[id]);
    const auto more = m_data->moreOwners.constFind(id);
    if (more != m_data->moreOwners.cend()) {
        for (const quint32 package : *more)
            add(package);
    }
    return out;
}

bool Catalogue::listedByAny(PathId id, const PackageSet &set) const
{
    if (id >= m_data->firstOwner.size())
        return false;
    if (set.contains(m_data->firstOwner[id]))
        return true;
    const auto more = m_data->moreOwners.constFind(id);
    return more != m_data->moreOwners.cend()
           && std::any_of(more->cbegin(), more->cend(), [&set](quint32 package) { return set.contains(package); });
}

void Catalogue::forgetPackage(const PackageRecord &package)
{
    installerPackages.removeAll(package);
    allPackages.removeAll(package);
    m_forgotten.insert(package.packageIdentifier());
}

Catalogue::PathId Catalogue::addFile(const QString &path, quint32 package)
{
    return addOwner(m_data->paths.intern(path), package);
}

Catalogue::PathId Catalogue::addFile(const FoldedPaths &paths, qsizetype i, quint32 package)
{
    return addOwner(m_data->paths.intern(paths, i), package);
}

Catalogue::PathId Catalogue::addOwner(PathId id, quint32 package)
{
    Data &data = *m_data;
    if (id == data.firstOwner.size())
        data.firstOwner.push_back(package);
    else
        data.moreOwners[id].append(package);
    return id;
}

quint32 Catalogue::addPackage(const QString &identifier, bool userReceipt)
{
    Data &data = *m_data;
    data.packages.append(identifier);
    data.userReceipts.push_back(userReceipt);
    return quint32(data.packages.size() - 1);
}

void Catalogue::setFilesForPackage(const QString &identifier, QList<PathId> ids)
{
    m_data->files.insert(identifier, std::move(ids));
}

} // namespace dorvane
