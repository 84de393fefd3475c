#pragma once

#include <QString>

namespace platform {

// The restricted flag that macOS puts on items under System Integrity
// Protection is stood in for by the inode's immutable flag on Linux: the item
// that even root cannot delete or change. Everything here takes PHYSICAL
// paths; the logical-to-physical mapping belongs to the caller.
class FileFlags
{
public:
    // Whether the item itself carries the flag, read from its status without
    // opening it. A final symbolic link is never followed: Linux gives links
    // no flags, so the answer for a link is false. False as well when the
    // flags cannot be read (missing item, a file system without flags).
    // The program itself asks the volume door (Volume::status); this form
    // takes physical paths for the generator and the tests.
    static bool isImmutable(const QString &physicalPath);

    // Whether the file system holding the existing file or folder at the path
    // lets the flags be read at all (tmpfs, for one, does not everywhere).
    // Tests use it to skip with a reason instead of failing.
    static bool canReadFlags(const QString &physicalPath);
};

} // namespace platform
