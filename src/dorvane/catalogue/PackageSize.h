#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/receipts/PackageRecord.h"

#include <vector>

namespace dorvane {

// What a package takes on the disk: its receipt (a legacy bundle's whole
// folder, else the bill and the receipt list) plus every item it lists that
// is not a folder, each measured without following a final link. A path
// that does not exist adds nothing.
namespace PackageSize {

// The files are the package's in the catalogue; a forgotten package has none.
quint64 bytes(const PackageRecord &record, const Catalogue &catalogue);
// The same with the files as the catalogue's path table holds them.
quint64 bytes(const PackageRecord &record, const std::vector<QByteArrayView> &files);

// The megabytes the list shows for a size: rounded to one decimal, so that
// a total adds up what the user reads.
double shownMegabytes(quint64 bytes);

} // namespace PackageSize
} // namespace dorvane
