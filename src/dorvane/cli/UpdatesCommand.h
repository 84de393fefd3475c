#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane check-updates [--feed URL] [--json]`: asks the update feed (the
// bundle's SUFeedURL unless --feed names another) whether a newer build
// than the running one exists.
int runUpdatesCommand(const QStringList &arguments);

} // namespace dorvane
