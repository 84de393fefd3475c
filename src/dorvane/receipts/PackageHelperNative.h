#pragma once

#include "dorvane/receipts/ReceiptReader.h"

#include <QList>
#include <QStringList>

namespace dorvane {

// The application's receipt store: the receipts of the process's volume as
// ReceiptReader reads them, with every problem logged, and a malformed
// receipt reported to the user. It keeps no state; every scan calls it
// afresh, on the scan's background thread.
class PackageHelperNative
{
public:
    static ReceiptReader reader();

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

    static inline const QString &kSystemReceipts = ReceiptReader::kSystemReceipts;
    static inline const QString &kUserReceipts = ReceiptReader::kUserReceipts;
    static inline const QString &kLegacyReceipts = ReceiptReader::kLegacyReceipts;
};

} // namespace dorvane
