#include "platform/FileFlags.h"

#include <QFile>

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace platform {

namespace {

#if defined(__linux__)

// The item's flag word, read through an open descriptor since Linux keeps the
// immutable flag out of stat. The lstat check first keeps fifos and devices
// from being opened at all; O_NONBLOCK and O_NOFOLLOW cover an item swapped
// in between the two calls, and the fstat after opening confirms the kind.
std::optional<int> readFlags(const QString &physicalPath)
{
    const QByteArray path = QFile::encodeName(physicalPath);
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0)
        return std::nullopt;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return std::nullopt;

    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<int> result;
    int flags = 0; // the kernel reads and writes an int, whatever the macro's type says
    if (::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0)
        result = flags;
    ::close(fd);
    return result;
}

bool hasImmutableFlag(int flags)
{
    return (flags & FS_IMMUTABLE_FL) != 0;
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
