#pragma once

namespace volumegen {

class DemoKit;

// The demo's packages, in two groups: the invented vendors' software, and
// the system's own packages with the odd and damaged receipts.
void addVendorPackages(DemoKit &kit);
void addSystemPackages(DemoKit &kit);

inline constexpr quint64 kKB = 1024;
inline constexpr quint64 kMB = 1024 * 1024;

} // namespace volumegen
