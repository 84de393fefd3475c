#pragma once

#include "dorvane/catalogue/CatalogueBuilder.h"

#include <optional>

namespace dorvane {

// The application's scan: the catalogue of the process's volume, built from
// the application's receipt store with the installers the user's settings
// ignore. Needs no window; runs on whatever thread calls it.
class CatalogueScanner
{
public:
    using ProgressFunction = CatalogueBuilder::ProgressFunction;
    using BatchAdded = CatalogueBuilder::BatchAdded;

    static inline const QString &kApplicationIcon = CatalogueBuilder::kApplicationIcon;
    static inline const QString &kDefunctIcon = CatalogueBuilder::kDefunctIcon;
    static inline const QString &kPackageIcon = CatalogueBuilder::kPackageIcon;

    // What the user is told when the volume has no receipts at all.
    static inline const QString kNoPackagesMessage = QStringLiteral("No Packages seem to be installed.");

    // The icon of a damaged package: the application's own "minus.png".
    static QString damagedIconPath();

    // Nothing when the volume has no receipts at all.
    static std::optional<Catalogue> scan(const QString &damagedIconPath, const ProgressFunction &progress = {},
                                         const BatchAdded &batchAdded = {});

    // The scan as the command line wants it: with the bundle's icon, and
    // the no-receipts message on standard error when there is nothing.
    static std::optional<Catalogue> scanOrComplain(const BatchAdded &batchAdded = {});

    // CatalogueBuilder::classify() on the process's volume.
    static QList<Catalogue::PathId> classify(PackageRecord &record, const FoldedPaths &files, Catalogue &catalogue);
};

} // namespace dorvane
