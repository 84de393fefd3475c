#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane plan ID... [--json]`: what uninstalling the packages would remove
// and what it would keep, after the same checks the application makes. It
// removes nothing. Exits 1 with the reason when a check stops the plan (a
// question about a vendor's uninstaller is answered "Cancel" unless --yes),
// 2 on an unknown identifier.
int runPlanCommand(const QStringList &arguments);

} // namespace dorvane
