#pragma once

#include <QJsonObject>
#include <QStringList>

namespace dorvane {

// `dorvane plan ID... [--json]`: what uninstalling the packages would remove
// and what it would keep, after the same checks the application makes. It
// removes nothing. A check that stops the plan (a question about a vendor's
// uninstaller is answered "Cancel" unless --yes) ends it with ExitFailure
// and the reason.
int runPlanCommand(const QStringList &arguments);

struct UninstallPlan;
// The plan as a JSON object, and as the text the command prints.
QJsonObject planJson(const UninstallPlan &plan);
void printPlan(const UninstallPlan &plan);
struct PlanSection;
// Each heading, then its leaves indented.
void printSections(const QList<PlanSection> &sections);

} // namespace dorvane
