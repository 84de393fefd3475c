#include "platform/FileFlags.h"

#include <QFile>

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace platform {

namespace {

#if defined(__linux__)

// The flag comes with the item's status (statx), so an item the user may
// not open is judged as well, and nothing is ever opened.
std::optional<int> readFlags(const QString &physicalPath)
{
    const QByteArray path = QFile::encodeName(physicalPath);
    struct statx st;
    if (path.isEmpty() || ::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &st) != 0)
        return std::nullopt;
    if (!(st.stx_attributes_mask & STATX_ATTR_IMMUTABLE))
        return std::nullopt;
    return (st.stx_attributes & STATX_ATTR_IMMUTABLE) ? 1 : 0;
}

bool hasImmutableFlag(int flags)
{
    return flags != 0;
}

#else

// On the Mac itself the flag word is part of lstat: the restricted flag.
constexpr unsigned kRestrictedFlag = 0x80000;

std::optional<int> readFlags(const QString &physicalPath)
{
    const QByteArray path = QFile::encodeName(physicalPath);
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0)
        return std::nullopt;
    return static_cast<int>(st.st_flags);
}

bool hasImmutableFlag(int flags)
{
    return (static_cast<unsigned>(flags) & kRestrictedFlag) != 0;
}

#endif

} // namespace

bool FileFlags::isImmutable(const QString &physicalPath)
{
    const std::optional<int> flags = readFlags(physicalPath);
    return flags && hasImmutableFlag(*flags);
}

bool FileFlags::canReadFlags(const QString &physicalPath)
{
    return readFlags(physicalPath).has_value();
}

} // namespace platform
