#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/receipts/ReceiptReader.h"

#include <functional>
#include <optional>

namespace dorvane {

// Builds the catalogue from a volume's receipts: corrects paths that moved
// since the install (a temporary install folder, a hidden application
// name), recognises the applications each package installed, and sorts out
// the packages of ignored installers. Needs no window and no settings; the
// application and the privileged helper tool build theirs with it alike.
class CatalogueBuilder
{
public:
    using ProgressFunction = std::function<void(const QString &detail)>;
    // Whether the installer's packages are kept out of the list; asked once
    // per package, so a list edited meanwhile counts from then on.
    using IgnoredInstaller = std::function<bool(const QString &installProcessName)>;
    // Told on the building thread each time a batch of packages is in: the
    // catalogue as far as it is built. Its path table grows with the next
    // batch, so only the bytes of paths already in it (PathTable::utf8) may
    // be handed to other threads meanwhile.
    using BatchAdded = std::function<void(const Catalogue &catalogue)>;

    static inline const QString kApplicationIcon =
        QStringLiteral("/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/GenericApplicationIcon.icns");
    static inline const QString kDefunctIcon =
        QStringLiteral("/System/Library/CoreServices/CoreTypes.bundle/Contents/Resources/AlertStopIcon.icns");
    static inline const QString kPackageIcon =
        QStringLiteral("/System/Library/CoreServices/Installer.app/Contents/Resources/package.icns");

    // Nothing when the volume has no receipts at all.
    static std::optional<Catalogue> build(const ReceiptReader &reader, const IgnoredInstaller &isIgnored,
                                          const QString &damagedIconPath, const ProgressFunction &progress = {},
                                          const BatchAdded &batchAdded = {});

    // The scan of one record's paths: fills the record's application keys,
    // adds the paths, corrected, to the catalogue's maps and application
    // lists and gives back their numbers in the bill's order.
    static QList<Catalogue::PathId> classify(PackageRecord &record, const FoldedPaths &files, Catalogue &catalogue,
                                             const platform::Volume &volume);

private:
    // Classifies one read package and puts it into the catalogue's lists.
    static void add(PackageRecord &record, const FoldedPaths &files, Catalogue &catalogue, const platform::Volume &volume,
                    const IgnoredInstaller &isIgnored, const QString &damagedIconPath,
                    const ProgressFunction &progress);
};

} // namespace dorvane
