#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane receipts [--json]`: what the receipt store returns, in its order,
// with each package's install folder and files.
int runReceiptsCommand(const QStringList &arguments);

} // namespace dorvane
