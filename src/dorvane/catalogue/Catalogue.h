#pragma once

#include "dorvane/receipts/PackageRecord.h"

#include <QHash>
#include <QList>
#include <QStringList>

namespace dorvane {

// Everything one scan learns about the installed packages.
struct Catalogue
{
    // Packages whose installer is not ignored, in receipt-store order: the
    // source of the list.
    QList<PackageRecord> installerPackages;
    // Packages kept out because their installer is ignored; never listed.
    QList<PackageRecord> allPackages;
    // Identifier to the package's corrected absolute paths (listed packages only).
    QHash<QString, QStringList> filesForPackage;
    // Path to the identifiers of every package that lists it, kept-out ones
    // included, in scan order, with repeats.
    QHash<QString, QStringList> packagesForFile;
    // Packages that installed an application into /Applications/, once per
    // application; and those whose application is gone.
    QStringList applicationPackageIdentifiers;
    QStringList defunctappPackageIdentifiers;
};

} // namespace dorvane
