#pragma once

#include <QString>
#include <QStringList>

namespace dorvane {

class DeleteHelper;
class PackageRecord;

// The receipt of one package goes with one forget request to the helper
// tool, whatever its kind: the tool finds the receipts on the volume that
// hold the identifier and removes them (a legacy bundle as a folder, a
// modern receipt as its property list and bill). Its receipt files are no
// package's files, so a delete request would be refused.
namespace ReceiptForgetting {

enum class Kind { LegacyBundle, UserReceipt, SystemReceipt };

Kind kindOf(const PackageRecord &package);

// Returns when the tool has answered; a failure is reported by the helper
// client itself. `packages`: the identifiers of the packages being
// uninstalled or forgotten, the package's own among them.
void forget(const PackageRecord &package, const QStringList &packages, DeleteHelper &helper);

} // namespace ReceiptForgetting
} // namespace dorvane
