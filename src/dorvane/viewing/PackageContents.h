#pragma once

#include "dorvane/catalogue/Catalogue.h"

#include <functional>

namespace dorvane {

// What the selected packages installed, as the package view shows it: every
// path of each package in selection order, each marked by whether anything
// is there now (a link counts by what it leads to). Paths are neither
// sorted nor made unique: a path two packages share is listed for each.
struct PackageContents
{
    struct Row
    {
        QString text;
        bool exists = false;
    };

    QList<Row> rows;
    bool anyDamaged = false;   // some selected package's receipt or bill could not be read

    // What the window and the command line say when anyDamaged is set.
    static inline const QString kDamagedMessage = QStringLiteral(
        "The package is damaged - its contents can not be read as the BOM file is corrupt. You should uninstall it.");

    using ProgressFunction = std::function<void(const QString &detail)>;
    static PackageContents gather(const QList<PackageRecord> &selection, const Catalogue &catalogue,
                                  const ProgressFunction &progress = {});
};

} // namespace dorvane
