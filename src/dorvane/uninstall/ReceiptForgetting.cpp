#include "dorvane/uninstall/ReceiptForgetting.h"

#include "dorvane/helper/DeleteHelper.h"
#include "dorvane/receipts/PackageRecord.h"
#include "platform/Volume.h"

namespace dorvane::ReceiptForgetting {

using platform::LogicalPath;

Kind kindOf(const PackageRecord &package)
{
    // Presence decides: the legacy key is only ever set to a path.
    if (package.isLegacy())
        return Kind::LegacyBundle;
    if (package.contains(PackageKey::UserPrefix))
        return Kind::UserReceipt;
    return Kind::SystemReceipt;
}

void forget(const PackageRecord &package, const QString &information, DeleteHelper &helper)
{
    switch (kindOf(package)) {
    case Kind::LegacyBundle:
        helper.deleteFiles(platform::volumePaths({package.pkgPath()}), information);
        return;
    case Kind::UserReceipt:
        helper.deleteFiles(platform::volumePaths({package.plistPath(), package.bomPath()}), information);
        return;
    case Kind::SystemReceipt:
        helper.deletePackage(package);
        return;
    }
}

} // namespace dorvane::ReceiptForgetting
