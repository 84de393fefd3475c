#include "dorvane/cli/ListedPackages.h"

#include <algorithm>
#include <cstdio>

namespace dorvane {

std::optional<QList<PackageRecord>> listedPackages(const Catalogue &catalogue, const QStringList &identifiers)
{
    QList<PackageRecord> selection;
    QStringList selected;
    for (const QString &identifier : identifiers) {
        if (selected.contains(identifier))
            continue;
        const auto record = std::find_if(catalogue.installerPackages.cbegin(), catalogue.installerPackages.cend(),
                                         [&](const PackageRecord &r) { return r.packageIdentifier() == identifier; });
        if (record == catalogue.installerPackages.cend()) {
            std::fprintf(stderr, "dorvane: no listed package has the identifier %s\n", qPrintable(identifier));
            return std::nullopt;
        }
        selection.append(*record);
        selected.append(identifier);
    }
    return selection;
}

} // namespace dorvane
