#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/planning/IgnoredLocations.h"
#include "dorvane/planning/UninstallPlan.h"

#include <functional>

namespace dorvane {

// Decides what uninstalling the selected packages removes, from the
// catalogue of the last scan, the ignored folders and the disk as it is now.
// It removes nothing and needs no window; it runs on whatever thread calls
// it (the application's background queue, or the command line's only one).
//
// The guarantees the uninstall relies on: no path that an unselected
// package lists, no path in an ignored location and no protected item is
// ever among the files or folders to remove.
class UninstallPlanner
{
public:
    using ProgressFunction = std::function<void(const QString &detail)>;

    // The title of the progress sheet the application shows meanwhile.
    static inline const QString kProgressTitle = QStringLiteral("Scanning Package Contents");

    // `selection` in the order the user selected the packages; `isRootless`
    // whether System Integrity Protection is on (without it nothing counts
    // as protected). The ignored folders are read from the settings now.
    // `progress` receives a detail line per package and per file.
    static UninstallPlan plan(const QList<PackageRecord> &selection, const Catalogue &catalogue, bool isRootless,
                              const ProgressFunction &progress = {});

    static UninstallPlan plan(const QList<PackageRecord> &selection, const Catalogue &catalogue, bool isRootless,
                              const IgnoredLocations &ignored, const ProgressFunction &progress = {});
};

} // namespace dorvane
