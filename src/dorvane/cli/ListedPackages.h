#pragma once

#include "dorvane/catalogue/Catalogue.h"

#include <optional>

namespace dorvane {

// The listed packages that the command line names, in the order given; an
// identifier given twice is one selected package, as in the window's list.
// Nothing, with the reason on standard error, when an identifier names no
// listed package (a kept-out one included).
std::optional<QList<PackageRecord>> listedPackages(const Catalogue &catalogue, const QStringList &identifiers);

} // namespace dorvane
