#include "dorvane/planning/PlanTree.h"

#include "kestrum/Format.h"

namespace dorvane::PlanTree {

namespace {

double megabytes(quint64 bytes)
{
    return double(bytes) / 1048576.0;
}

void addSection(QList<PlanSection> &tree, const QString &name, const QStringList &children)
{
    if (!children.isEmpty())
        tree.append({name, children});
}

} // namespace

QString sharedFileText(const SharedFile &file)
{
    return kestrum::makeString("%@  (also used by: %@)", file.path.toString(), file.usedBy.join(QStringLiteral(", ")));
}

QList<PlanSection> build(const UninstallPlan &plan)
{
    using kestrum::makeString;
    QStringList shared;
    shared.reserve(plan.sharedFiles.size());
    for (const SharedFile &file : plan.sharedFiles)
        shared.append(sharedFileText(file));

    QList<PlanSection> tree;
    addSection(tree,
               QStringLiteral("\u2022 Generated files/folders that will be removed if 'Advanced Options -> Delete "
                              "generated files' is checked"),
               platform::toStrings(plan.removeGenerated));
    addSection(tree,
               QStringLiteral("\u2022 Applications folders that will be removed if 'Advanced Options -> Remove app "
                              "completely' is checked"),
               platform::toStrings(plan.removeRemaining));
    addSection(tree,
               makeString("\u2022 Files that will be removed (%lu files @ %.1f MB)", quint64(plan.removeFiles.size()),
                          megabytes(plan.sizes.removeBytes)),
               platform::toStrings(plan.removeFiles));
    addSection(tree,
               makeString("\u2022 Files that will not be removed because they are installed into ignored locations "
                          "(%lu files @ %.1f MB)",
                          quint64(plan.ignoredFiles.size()), megabytes(plan.sizes.ignoredBytes)),
               platform::toStrings(plan.ignoredFiles));
    addSection(tree,
               makeString("\u2022 Files that will not be removed because they are used by other packages (%lu files "
                          "@ %.1f MB)",
                          quint64(plan.sharedFiles.size()), megabytes(plan.sizes.sharedBytes)),
               shared);
    addSection(tree,
               makeString("\u2022 Files/folders that have already been removed (%lu files)",
                          quint64(plan.missingPaths.size())),
               platform::toStrings(plan.missingPaths));
    addSection(tree,
               makeString("\u2022 Files/folders that can not be removed because they are protected by Apple's 'System "
                          "Integrity Protection' (%lu files)",
                          quint64(plan.protectedPaths.size())),
               platform::toStrings(plan.protectedPaths));
    return tree;
}

} // namespace dorvane::PlanTree
