#include "dorvane/uninstall/ReceiptForgetting.h"

#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/receipts/PackageRecord.h"

namespace dorvane::ReceiptForgetting {

Kind kindOf(const PackageRecord &package)
{
    // Presence decides: the legacy key is only ever set to a path.
    if (package.isLegacy())
        return Kind::LegacyBundle;
    if (package.contains(PackageKey::UserPrefix))
        return Kind::UserReceipt;
    return Kind::SystemReceipt;
}

void forget(const PackageRecord &package, const QStringList &packages, DeleteHelper &helper)
{
    helper.deletePackage(package, packages);
}

} // namespace dorvane::ReceiptForgetting
