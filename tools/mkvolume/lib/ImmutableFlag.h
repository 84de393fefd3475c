#pragma once

#include <QString>

namespace volumegen {

// Sets and clears the flag that makes an item undeletable even for root: the
// inode's immutable flag on Linux (what the program reads as protection),
// the system immutable flag on the Mac. Physical paths; a final symbolic
// link is never followed.
namespace ImmutableFlag {

// False when the file system has no such flag or the caller may not set it
// (setting it needs root on Linux).
bool set(const QString &physicalPath, bool on);

} // namespace ImmutableFlag
} // namespace volumegen
