#pragma once

#include "dorvane/receipts/PackageRecord.h"

namespace dorvane {

// What a package takes on the disk: its receipt (a legacy bundle's whole
// folder, else the bill and the receipt list) plus every item it lists that
// is not a folder, each measured without following a final link. A path
// that does not exist adds nothing.
namespace PackageSize {

quint64 bytes(const PackageRecord &record, const QStringList &files);

// The size text of the list: "%.1f MB".
QString text(quint64 bytes);

// The number a size text begins with, in megabytes; 0 for an empty text.
double megabytes(const QString &text);

} // namespace PackageSize
} // namespace dorvane
