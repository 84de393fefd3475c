#pragma once

#include "dorvane/catalogue/Catalogue.h"

#include <functional>
#include <optional>

namespace dorvane {

// Builds the catalogue from the receipt store: corrects paths that moved
// since the install (a temporary install folder, a hidden application
// name), recognises the applications each package installed, and sorts out
// the packages of ignored installers. Needs no window; runs on whatever
// thread calls it.
class CatalogueScanner
{
public:
    using ProgressFunction = std::function<void(const QString &detail)>;

    static inline const QString kApplicationIcon =
        QStringLiteral("/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/GenericApplicationIcon.icns");
    static inline const QString kDefunctIcon =
        QStringLiteral("/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/AlertStopIcon.icns");
    static inline const QString kPackageIcon =
        QStringLiteral("/System/Library/CoreServices/Installer.app/Contents/Resources/package.icns");

    // What the user is told when the volume has no receipts at all.
    static inline const QString kNoPackagesMessage = QStringLiteral("No Packages seem to be installed.");

    // The icon of a damaged package: the application's own "minus.png".
    static QString damagedIconPath();

    // Nothing when the volume has no receipts at all.
    static std::optional<Catalogue> scan(const QString &damagedIconPath, const ProgressFunction &progress = {});

    // The scan as the command line wants it: with the bundle's icon, and
    // the no-receipts message on standard error when there is nothing.
    static std::optional<Catalogue> scanOrComplain();

    // The scan of one record's paths: fills the record's application keys,
    // corrects `files` in place, adds them to the catalogue's maps and
    // application lists and gives back their numbers in the bill's order.
    static QList<Catalogue::PathId> classify(PackageRecord &record, QStringList &files, Catalogue &catalogue);

private:
    // Classifies one read package and puts it into the catalogue's lists.
    static void add(PackageRecord &record, QStringList files, Catalogue &catalogue, const QString &damagedIconPath,
                    const ProgressFunction &progress);
};

} // namespace dorvane
