#include "dorvane/planning/UninstallPlanner.h"

#include "dorvane/planning/GeneratedItems.h"
#include "dorvane/planning/PathProbe.h"
#include "dorvane/planning/PlanTree.h"
#include "dorvane/rules/RemovalRules.h"
#include "dorvane/Settings.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Log.h"
#include "platform/PathMaker.h"
#include "platform/Volume.h"

#include <QSet>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <memory>

namespace dorvane {

namespace {

using Kind = PathProbe::Item::Kind;

// A run of listed paths, planned on a thread of its own with its own probe:
// the stretches' parts, joined in order, are the lists one pass over all
// paths would make.
struct Stretch
{
    qsizetype begin = 0;
    qsizetype end = 0;
};

struct Part
{
    UninstallPlan plan;
    QStringList details;   // the per-file progress lines, when asked for
};

QStringList identifiersOf(const QList<PackageRecord> &selection)
{
    QStringList identifiers;
    for (const PackageRecord &record : selection)
        identifiers.append(record.packageIdentifier());
    return identifiers;
}

// One planning run: the rules for the selection and the lists being filled.
// What may go is decided by RemovalRules, the rules the helper tool checks
// each request against, so a plan never holds what the tool would refuse.
class Run
{
public:
    Run(const Catalogue &catalogue, const QList<PackageRecord> &selection, bool isRootless,
        const IgnoredLocations &ignored, const UninstallPlanner::ProgressFunction &progress)
        : m_catalogue(catalogue)
        , m_isRootless(isRootless)
        , m_progress(progress)
        , m_rules(catalogue, identifiersOf(selection), ignored, m_volume)
    {
    }

    QList<Catalogue::PathId> gather(const QList<PackageRecord> &selection);
    void addGenerated(const QList<PackageRecord> &selection);
    QList<Stretch> stretches(const QList<Catalogue::PathId> &paths) const;
    Part classify(const QList<Catalogue::PathId> &paths, Stretch stretch) const;
    void join(Part part);
    void report(const QString &detail) const
    {
        if (m_progress)
            m_progress(detail);
    }

    UninstallPlan plan;

private:
    void warnOfUnusableNames(const PackageRecord &record) const;

    const Catalogue &m_catalogue;
    const bool m_isRootless;
    const UninstallPlanner::ProgressFunction &m_progress;
    const std::shared_ptr<const platform::Volume> m_volume = platform::Volume::current();
    const RemovalRules m_rules;
};

// Every path of the selected packages once, in the order first listed: the
// packages in selection order, each in its bill's order. A path that two
// selected packages list is planned like any other; they do not protect each
// other.
QList<Catalogue::PathId> Run::gather(const QList<PackageRecord> &selection)
{
    std::vector<bool> seen(size_t(m_catalogue.paths().count()), false);
    QList<Catalogue::PathId> paths;
    for (const PackageRecord &record : selection) {
        const QString identifier = record.packageIdentifier();
        report(kestrum::makeString("Adding files from package: %@", identifier));
        for (const Catalogue::PathId id : m_catalogue.fileIdsForPackage(identifier)) {
            if (!seen[id]) {
                seen[id] = true;
                paths.append(id);
            }
        }
    }
    return paths;
}

void Run::warnOfUnusableNames(const PackageRecord &record) const
{
    for (const QString &bundleIdentifier : record.appBuIDs()) {
        if (!GeneratedItems::isUsableName(bundleIdentifier))
            kestrum::asl_NSLog(kestrum::LogWarning,
                               "Warning: the bundle identifier '%@' of the package %@ names no item of its own; "
                               "its generated files are not looked for.",
                               bundleIdentifier, record.packageIdentifier());
    }
    for (const QString &name : record.appNames()) {
        if (!GeneratedItems::isUsableName(name))
            kestrum::asl_NSLog(kestrum::LogWarning,
                               "Warning: the application name '%@' of the package %@ names no item of its own; "
                               "its generated files are not looked for.",
                               name, record.packageIdentifier());
    }
}

void Run::addGenerated(const QList<PackageRecord> &selection)
{
    for (const PackageRecord &record : selection) {
        const QString identifier = record.packageIdentifier();
        report(kestrum::makeString("Adding generated files by: %@", identifier));
        if (m_rules.overlapsUnselected(record)) {
            kestrum::asl_NSLog(kestrum::LogWarning,
                               "Warning: we are not removing generated or remaining files for the package %@ "
                               "because it seems that other packages are overlapping.",
                               identifier);
            continue;
        }
        warnOfUnusableNames(record);
        for (const platform::LogicalPath &candidate : m_rules.generatedCandidates(record)) {
            if (m_volume->status(candidate, platform::Follow::Final))
                plan.removeGenerated.append(candidate);
        }
        // A protected bundle cannot go; it is left out without a word.
        for (const platform::LogicalPath &path : m_rules.applicationFolders(record)) {
            const std::optional<platform::ItemStatus> status = m_volume->status(path, platform::Follow::NotFinal);
            if (status && m_volume->status(path, platform::Follow::Final) && !(m_isRootless && status->immutable))
                plan.removeRemaining.append(path);
        }
    }
}

// Stretches of a few thousand paths, so every core stays busy to the end
// even when one stretch's disk is slower. Each ends where the listed text's
// folder changes, so a folder is seldom opened by two probes; a huge folder
// is cut all the same, which costs only one more open.
QList<Stretch> Run::stretches(const QList<Catalogue::PathId> &paths) const
{
    constexpr qsizetype kLength = 4096;
    const auto folderOf = [this](Catalogue::PathId id) {
        const QString path = m_catalogue.path(id);
        return path.left(path.lastIndexOf(QLatin1Char('/')));
    };
    QList<Stretch> out;
    qsizetype begin = 0;
    while (begin < paths.size()) {
        qsizetype end = std::min(paths.size(), begin + kLength);
        if (end < paths.size()) {
            const QString folder = folderOf(paths[end - 1]);
            while (end < paths.size() && end - begin < 4 * kLength && folderOf(paths[end]) == folder)
                ++end;
        }
        out.append({begin, end});
        begin = end;
    }
    return out;
}

// Sorts each listed path of the stretch into exactly one list. Folders are
// only those the bills list themselves, judged by what is on the disk now;
// a link is never a folder, whatever it leads to, so removing it never
// reaches into its target.
Part Run::classify(const QList<Catalogue::PathId> &paths, Stretch stretch) const
{
    Part part;
    UninstallPlan &plan = part.plan;
    PathProbe probe(m_volume);
    platform::PathMaker maker(m_volume);
    plan.removeFiles.reserve(stretch.end - stretch.begin);
    for (qsizetype i = stretch.begin; i < stretch.end; ++i) {
        const Catalogue::PathId id = paths[i];
        // The catalogue holds only paths its volume made; text that names no
        // path names nothing to plan.
        std::optional<platform::LogicalPath> made = maker.path(m_catalogue.paths().utf8(id));
        if (!made)
            continue;
        platform::LogicalPath &logical = *made;   // moved into the one list it goes to
        // A path only the user's own receipt lists, outside the home folder,
        // is kept as one in an ignored location: that receipt may not speak
        // for it.
        const bool ignored = m_rules.isIgnored(logical) || !m_rules.justifiedBySelection(id, logical);
        const PathProbe::Item item = probe.look(logical);

        if (item.kind == Kind::Folder) {
            if (ignored || m_rules.listedByOthers(id))
                continue; // neither removed nor shown
            if (m_isRootless && PathProbe::isRestricted(item))
                plan.protectedPaths.append(std::move(logical));
            else
                plan.removeFolders.append(std::move(logical));
            continue;
        }

        if (m_progress)
            part.details.append(QStringLiteral("Adding file: ") + logical.name().toString());
        const bool exists = item.kind == Kind::File
                            || (item.kind == Kind::Link && m_volume->status(logical, platform::Follow::Final));
        if (!exists) {
            plan.missingPaths.append(std::move(logical));
            continue;
        }
        if (ignored) {
            plan.ignoredFiles.append(std::move(logical));
            plan.sizes.ignoredBytes += item.size;
            continue;
        }
        if (m_rules.listedByOthers(id)) {
            plan.sharedFiles.append({std::move(logical), m_rules.others(id)});
            plan.sizes.sharedBytes += item.size;
            continue;
        }
        if (m_isRootless && PathProbe::isRestricted(item)) {
            plan.protectedPaths.append(std::move(logical));
            continue;
        }
        plan.removeFiles.append(std::move(logical));
        plan.sizes.removeBytes += item.size;
    }
    return part;
}

// Adds a stretch's lists after those of the stretches before it, and tells
// its files' progress lines in their order.
void Run::join(Part part)
{
    UninstallPlan &from = part.plan;
    plan.removeFiles.append(std::move(from.removeFiles));
    plan.removeFolders.append(std::move(from.removeFolders));
    plan.ignoredFiles.append(std::move(from.ignoredFiles));
    plan.sharedFiles.append(std::move(from.sharedFiles));
    plan.missingPaths.append(std::move(from.missingPaths));
    plan.protectedPaths.append(std::move(from.protectedPaths));
    plan.sizes.removeBytes += from.sizes.removeBytes;
    plan.sizes.ignoredBytes += from.sizes.ignoredBytes;
    plan.sizes.sharedBytes += from.sizes.sharedBytes;
    for (const QString &detail : std::as_const(part.details))
        report(detail);
}

} // namespace

UninstallPlan UninstallPlanner::plan(const QList<PackageRecord> &selection, const Catalogue &catalogue,
                                     bool isRootless, const ProgressFunction &progress)
{
    const IgnoredLocations ignored(kestrum::DefaultsKey(Settings::kIgnoredSystemFolders).defaultStringArray());
    return plan(selection, catalogue, isRootless, ignored, progress);
}

UninstallPlan UninstallPlanner::plan(const QList<PackageRecord> &selection, const Catalogue &catalogue,
                                     bool isRootless, const IgnoredLocations &ignored,
                                     const ProgressFunction &progress)
{
    Run run(catalogue, selection, isRootless, ignored, progress);
    const QList<Catalogue::PathId> paths = run.gather(selection);
    run.addGenerated(selection);
    const QList<Stretch> stretches = run.stretches(paths);
    if (stretches.size() <= 1) {
        for (const Stretch &stretch : stretches)
            run.join(run.classify(paths, stretch));
    } else {
        // A status call and a logical path per listed path are most of the
        // time, and stretches write nothing they share, so they go to the
        // cores; their parts are joined in list order as they come,
        // so progress still moves down the list. The pool is the planner's
        // own: it may run on a thread of the global pool, which must not
        // wait for that pool's other threads.
        // Each part is held by a pointer so that joining moves its lists: a
        // result read from the future is a copy that shares them.
        QThreadPool pool;
        QFuture<std::shared_ptr<Part>> parts =
            QtConcurrent::mapped(&pool, stretches, [&run, &paths](Stretch stretch) {
                return std::make_shared<Part>(run.classify(paths, stretch));
            });
        for (qsizetype i = 0; i < stretches.size(); ++i)
            run.join(std::move(*parts.resultAt(int(i))));
    }
    run.report(QStringLiteral("Wrapping up\u2026"));
    run.plan.uninstallFiles = PlanTree::build(run.plan);
    return std::move(run.plan);
}

} // namespace dorvane
