#pragma once

#include "VolumeItems.h"

namespace volumegen::GeneratedFiles {

// What a running application leaves behind in the Library folders, as
// logical paths (each folder before its contents), for the items asked for.
// `home` is the logical home folder. Sizes and content depend only on the
// bundle identifier and the name, so the same application always leaves the
// same files.
QList<PathItem> paths(const QString &home, const QString &bundleIdentifier, const QString &appName,
                      GeneratedItems items);

} // namespace volumegen::GeneratedFiles
