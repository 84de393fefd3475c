#include "dorvane/rules/RemovalRules.h"

#include "dorvane/planning/GeneratedItems.h"
#include "dorvane/planning/SystemLists.h"

namespace dorvane {

using platform::LogicalPath;

RemovalRules::RemovalRules(const Catalogue &catalogue, const QStringList &selection, const IgnoredLocations &ignored,
                           std::shared_ptr<const platform::Volume> volume)
    : m_catalogue(catalogue)
    , m_selection(selection.cbegin(), selection.cend())
    , m_ignored(ignored)
    , m_volume(std::move(volume))
{
    for (const QList<PackageRecord> *records : {&catalogue.installerPackages, &catalogue.allPackages}) {
        for (const PackageRecord &record : *records) {
            if (isSelected(record.packageIdentifier()))
                m_records.append(record);
        }
    }
    m_unselected = catalogue.packagesWhere([this](const QString &identifier, bool) { return !isSelected(identifier); });
    m_selected = catalogue.packagesWhere([this](const QString &identifier, bool) { return isSelected(identifier); });
    m_selectedSystemReceipts = catalogue.packagesWhere(
        [this](const QString &identifier, bool userReceipt) { return isSelected(identifier) && !userReceipt; });
    m_selectedUserReceipts = catalogue.packagesWhere(
        [this](const QString &identifier, bool userReceipt) { return isSelected(identifier) && userReceipt; });
    m_essentialSelected = catalogue.packagesWhere([this](const QString &identifier, bool) {
        return isSelected(identifier) && SystemLists::isEssentialPackage(identifier);
    });
    for (const PackageRecord &record : std::as_const(m_records)) {
        for (const LogicalPath &folder : applicationFolders(record))
            m_applicationFolders.insert(folder);
        for (const LogicalPath &item : generatedCandidates(record))
            m_generated.insert(item);
    }
}

bool RemovalRules::listedByOthers(Catalogue::PathId id) const
{
    return m_catalogue.listedByAny(id, m_unselected);
}

QStringList RemovalRules::others(Catalogue::PathId id) const
{
    QStringList out = m_catalogue.packagesForFile(id);
    out.removeIf([this](const QString &identifier) { return isSelected(identifier); });
    return out;
}

bool RemovalRules::justifiedBySelection(Catalogue::PathId id, const LogicalPath &path) const
{
    return m_catalogue.listedByAny(id, m_selectedSystemReceipts)
           || (m_catalogue.listedByAny(id, m_selectedUserReceipts) && path.isWithin(m_volume->home()));
}

bool RemovalRules::mayJustify(const PackageRecord &record, const LogicalPath &path) const
{
    return !record.hasUserPrefix() || path.isWithin(m_volume->home());
}

bool RemovalRules::overlapsUnselected(const PackageRecord &record) const
{
    for (const QString &application : record.appPaths()) {
        const std::optional<LogicalPath> path = m_volume->path(application);
        const std::optional<Catalogue::PathId> id = path ? m_catalogue.pathId(path->toString()) : std::nullopt;
        if (id && listedByOthers(*id))
            return true;
    }
    return false;
}

QList<LogicalPath> RemovalRules::applicationFolders(const PackageRecord &record) const
{
    QList<LogicalPath> folders;
    if (overlapsUnselected(record) || SystemLists::isEssentialPackage(record.packageIdentifier()))
        return folders;
    for (const QString &application : record.appPaths()) {
        const std::optional<LogicalPath> path = m_volume->path(application);
        if (path && !isIgnored(*path) && mayJustify(record, *path))
            folders.append(*path);
    }
    return folders;
}

QList<LogicalPath> RemovalRules::generatedCandidates(const PackageRecord &record) const
{
    QList<LogicalPath> candidates;
    if (overlapsUnselected(record) || SystemLists::isEssentialPackage(record.packageIdentifier()))
        return candidates;
    const auto add = [&](const QStringList &texts) {
        for (const QString &text : texts) {
            const std::optional<LogicalPath> path = m_volume->path(text);
            if (!path || isIgnored(*path) || !mayJustify(record, *path))
                continue;
            // Another package's own item is that package's, whatever its name.
            const std::optional<Catalogue::PathId> id = m_catalogue.pathId(path->toString());
            if (!id || !listedByOthers(*id))
                candidates.append(*path);
        }
    };
    for (const QString &bundleIdentifier : record.appBuIDs()) {
        if (GeneratedItems::isUsableName(bundleIdentifier))
            add(GeneratedItems::bundleIdentifierCandidates(bundleIdentifier));
    }
    for (const QString &name : record.appNames()) {
        if (GeneratedItems::isUsableName(name))
            add(GeneratedItems::applicationNameCandidates(name));
    }
    return candidates;
}

RemovalRules::Verdict RemovalRules::listed(const LogicalPath &path) const
{
    const std::optional<Catalogue::PathId> id = m_catalogue.pathId(path.toString());
    if (!id || !m_catalogue.listedByAny(*id, m_selected))
        return {Ground::None, QStringLiteral("no package being uninstalled lists it")};
    if (listedByOthers(*id))
        return {Ground::None, QStringLiteral("%1, which is not being uninstalled, lists it too").arg(others(*id).value(0))};
    // Every package that lists it is selected here: essential only when an
    // essential one is.
    if (m_catalogue.listedByAny(*id, m_essentialSelected))
        return {Ground::None, QStringLiteral("an essential system package lists it")};
    if (isIgnored(path))
        return {Ground::None, QStringLiteral("it lies in an ignored folder")};
    if (!justifiedBySelection(*id, path))
        return {Ground::None, QStringLiteral("only a receipt in the user's own folder lists it, and it lies outside "
                                             "the home folder")};
    return {Ground::Listed, QString()};
}

RemovalRules::Verdict RemovalRules::mayRemove(const LogicalPath &path) const
{
    // An application folder or a generated item goes whole; a bill lists an
    // application's folder too, so these grounds are asked first.
    if (m_applicationFolders.contains(path))
        return {Ground::Application, QString()};
    if (m_generated.contains(path))
        return {Ground::Generated, QString()};
    return listed(path);
}

RemovalRules::Verdict RemovalRules::mayRemoveEmptyFolder(const LogicalPath &folder) const
{
    return listed(folder);
}

RemovalRules::Verdict RemovalRules::mayEnd(const LogicalPath &executable) const
{
    if (listed(executable).accepted())
        return {Ground::Listed, QString()};
    // Inside an application folder or a generated item that may go.
    for (LogicalPath folder = executable.parent(); !folder.isRoot(); folder = folder.parent()) {
        const Verdict verdict = mayRemove(folder);
        if (verdict.ground == Ground::Application || verdict.ground == Ground::Generated)
            return verdict;
    }
    return {Ground::None, QStringLiteral("its executable lies in nothing the packages being uninstalled may remove")};
}

RemovalRules::Verdict RemovalRules::mayForget(const QString &identifier) const
{
    if (!isSelected(identifier))
        return {Ground::None, QStringLiteral("it is not a package being uninstalled")};
    if (SystemLists::isEssentialPackage(identifier))
        return {Ground::None, QStringLiteral("it is an essential system package")};
    return {Ground::Listed, QString()};
}

} // namespace dorvane
