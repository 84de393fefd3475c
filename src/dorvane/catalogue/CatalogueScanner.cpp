#include "dorvane/catalogue/CatalogueScanner.h"

#include "dorvane/Settings.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "kestrum/DefaultsKey.h"
#include "platform/Bundle.h"

#include <cstdio>

namespace dorvane {

QString CatalogueScanner::damagedIconPath()
{
    return platform::Bundle::main().resourcesPath() + QLatin1String("/minus.png");
}

std::optional<Catalogue> CatalogueScanner::scan(const QString &damagedIconPath, const ProgressFunction &progress,
                                               const BatchAdded &batchAdded)
{
    // Read afresh for every package: the user may edit the list meanwhile.
    const auto isIgnored = [](const QString &installer) {
        return kestrum::DefaultsKey(Settings::kIgnoredInstallers).defaultStringArray().contains(installer);
    };
    return CatalogueBuilder::build(PackageHelperNative::reader(), isIgnored, damagedIconPath, progress, batchAdded);
}

std::optional<Catalogue> CatalogueScanner::scanOrComplain(const BatchAdded &batchAdded)
{
    std::optional<Catalogue> catalogue = scan(damagedIconPath(), {}, batchAdded);
    if (!catalogue)
        std::fprintf(stderr, "%s\n", qPrintable(kNoPackagesMessage));
    return catalogue;
}

QList<Catalogue::PathId> CatalogueScanner::classify(PackageRecord &record, const FoldedPaths &files,
                                                    Catalogue &catalogue)
{
    return CatalogueBuilder::classify(record, files, catalogue, *platform::Volume::current());
}

} // namespace dorvane
