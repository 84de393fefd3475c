#pragma once

#include "dorvane/planning/UninstallPlan.h"

namespace dorvane {

// The seven sections of the uninstall sheet's tree, built from a plan's
// lists. The folders to remove are not shown: they go only when they turn
// out empty, which the sheet cannot promise.
namespace PlanTree {

// Only the sections whose list is not empty, in this order: generated items,
// application folders, files to remove, ignored files, shared files, paths
// already gone, protected paths. Leaves keep their list's order.
QList<PlanSection> build(const UninstallPlan &plan);

// The leaf text of a shared file: the path, two blanks, and the other
// packages.
QString sharedFileText(const SharedFile &file);

} // namespace PlanTree
} // namespace dorvane
