#pragma once

#include "dorvane/receipts/PackageRecord.h"
#include "platform/LogicalPath.h"

#include <QList>
#include <QStringList>

namespace dorvane {

// The receipt store: the one place that reads what the system installer
// recorded. It keeps no state; every scan calls it afresh, on the scan's
// background thread. Every path it takes or gives is a logical path.
class PackageHelperNative
{
public:
    // One record per receipt: the system receipts, then the user's, then the
    // legacy bundles, each group in the file system's listing order. Bad
    // receipts are logged and skipped.
    static QList<PackageRecord> getPackages();

    // The folder the package was installed into. Marks the record damaged
    // when its receipt cannot be opened.
    static platform::LogicalPath installLocationForPackage(PackageRecord &record);

    // The absolute path of every entry of the package's bill, in the bill's
    // order, duplicates kept; empty when the bill cannot be read (and the
    // record marked damaged when it cannot even be opened).
    static QStringList getFilesForPackage(PackageRecord &record, const platform::LogicalPath &prefix);

    static inline const QString kSystemReceipts = QStringLiteral("/private/var/db/receipts/");
    static inline const QString kUserReceipts = QStringLiteral("~/Library/Receipts/");
    static inline const QString kLegacyReceipts = QStringLiteral("/Library/Receipts/");
};

} // namespace dorvane
