#pragma once

#include "platform/LogicalPath.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace dorvane {

// A file that stays because a package outside the selection lists it too.
struct SharedFile
{
    platform::LogicalPath path;
    QStringList usedBy;   // the other packages' identifiers, as the catalogue lists them

    friend bool operator==(const SharedFile &, const SharedFile &) = default;
};

// One heading of the plan tree with its leaf texts.
struct PlanSection
{
    QString name;
    QStringList children;

    friend bool operator==(const PlanSection &, const PlanSection &) = default;
};

// Sections as nodes {"name": text, "children": [{"name": text}, ...]}, the
// form an outline view or a JSON writer takes directly.
QVariantList sectionNodes(const QList<PlanSection> &sections);

// What an uninstall of the selected packages will remove and what it keeps,
// decided before anything is removed. Every path is a logical path on the
// volume, made once when the plan was; the uninstall removes those paths,
// never text read again. Each planning run makes a new plan; the uninstall acts on the plan
// the user confirmed, never on a fresh look at the disk.
struct UninstallPlan
{
    // Removed by the uninstall.
    using Paths = QList<platform::LogicalPath>;
    Paths removeFiles;        // files, links included
    Paths removeFolders;      // removed only when empty at removal time
    Paths removeRemaining;    // the packages' application folders, when "DeleteRemaining" is on
    Paths removeGenerated;    // what the applications left in the Library folders, when "DeleteGenerated" is on

    // Kept, shown so the user sees why.
    Paths ignoredFiles;       // inside an ignored location
    QList<SharedFile> sharedFiles;
    Paths missingPaths;       // already gone, dangling links included
    Paths protectedPaths;     // under System Integrity Protection

    struct Sizes
    {
        quint64 removeBytes = 0;
        quint64 ignoredBytes = 0;
        quint64 sharedBytes = 0;

        friend bool operator==(const Sizes &, const Sizes &) = default;
    } sizes;

    // The tree the uninstall sheet shows: non-empty sections only, in their
    // fixed order (see PlanTree).
    QList<PlanSection> uninstallFiles;

    QVariantList uninstallFilesNodes() const { return sectionNodes(uninstallFiles); }

    friend bool operator==(const UninstallPlan &, const UninstallPlan &) = default;
};

} // namespace dorvane
