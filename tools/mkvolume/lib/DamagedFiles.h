#pragma once

#include <QByteArray>

namespace volumegen::DamagedFiles {

// A bill whose first block was lost, as a disk error leaves it: the
// "BOMStore" magic is gone, so no reader can open it.
QByteArray unopenableBill(const QByteArray &bill);

// A bill that still opens (valid header and magic) but whose Paths tree
// names a root block beyond the block table, so listing it fails. Empty when
// the bill has no Paths tree to break.
QByteArray corruptBill(const QByteArray &bill);

// A receipt cut off in the middle, as an interrupted copy leaves it, with
// its first byte garbled too so that neither form of property list parses.
QByteArray unopenableReceipt(const QByteArray &receipt);

} // namespace volumegen::DamagedFiles
