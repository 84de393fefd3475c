#include "ImmutableFlag.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace volumegen::ImmutableFlag {

#if defined(__linux__)

bool set(const QString &physicalPath, bool on)
{
    const QByteArray path = QFile::encodeName(physicalPath);
    struct stat st;
    // Links carry no flags on Linux, and fifos or devices must not be opened.
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;   // the kernel reads and writes an int, whatever the macro's type says
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        const int wanted = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = wanted == flags || ::ioctl(fd, FS_IOC_SETFLAGS, &wanted) == 0;
    }
    ::close(fd);
    return ok;
}

#else

bool set(const QString &physicalPath, bool on)
{
    const QByteArray path = QFile::encodeName(physicalPath);
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0)
        return false;
    const unsigned flags = on ? (st.st_flags | SF_IMMUTABLE) : (st.st_flags & ~SF_IMMUTABLE);
    return ::lchflags(path.constData(), flags) == 0;
}

#endif

} // namespace volumegen::ImmutableFlag
