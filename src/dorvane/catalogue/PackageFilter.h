#pragma once

#include "dorvane/catalogue/Catalogue.h"

namespace dorvane {

// What the list shows of the catalogue: the packages of one mode whose file
// name or identifier holds the search text, ignoring case.
class PackageFilter
{
public:
    enum class Mode { None, All, Applications, Defunct };

    static QList<PackageRecord> filter(const Catalogue &catalogue, Mode mode, const QString &searchText);
    static bool passes(const PackageRecord &record, const Catalogue &catalogue, Mode mode, const QString &searchText);

    // "%lu Packages  %.1f MB": the packages shown and the sum of their sizes.
    static QString statistics(const QList<PackageRecord> &shown);
};

} // namespace dorvane
