#pragma once

#include <QString>

namespace dorvane {

class DeleteHelper;
class PackageRecord;

// The receipt of one package goes with one request to the helper tool,
// whose kind follows the kind of receipt: a legacy bundle is deleted as a
// folder, a receipt of the user's own folder as its two files (the property
// list first, then the bill), a system receipt is forgotten by identifier.
namespace ReceiptForgetting {

enum class Kind { LegacyBundle, UserReceipt, SystemReceipt };

Kind kindOf(const PackageRecord &package);

// Returns when the tool has answered; a failure is reported by the helper
// client itself.
void forget(const PackageRecord &package, const QString &information, DeleteHelper &helper);

} // namespace ReceiptForgetting
} // namespace dorvane
