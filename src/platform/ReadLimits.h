#pragma once

#include <QtGlobal>

// How large a file of each kind may be before it is refused unread. Real
// files stay far below; the limits keep a hostile or broken file (a sparse
// file of gigabytes named like a receipt) from exhausting memory.
namespace platform::ReadLimit {

inline constexpr qint64 kReceipt = 8 * 1024 * 1024;        // a receipt's property list, a legacy Info.plist
inline constexpr qint64 kInfoPlist = 8 * 1024 * 1024;      // an application's Info.plist
inline constexpr qint64 kPreferences = 8 * 1024 * 1024;    // a user-defaults domain
inline constexpr qint64 kJob = 1024 * 1024;               // a launch daemon's job property list
inline constexpr qint64 kExecutable = 256 * 1024 * 1024;   // the helper tool, read for its embedded Info.plist
inline constexpr qint64 kBill = qint64(1) << 30;           // the bill reader's own limit

} // namespace platform::ReadLimit
