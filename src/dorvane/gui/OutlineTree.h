#pragma once

#include "dorvane/planning/UninstallPlan.h"

class QTreeWidget;

namespace dorvane {

// Shows sections as bold headings with their leaves, fully expanded, with
// nothing selected.
void fillOutline(QTreeWidget *view, const QList<PlanSection> &sections);

} // namespace dorvane
