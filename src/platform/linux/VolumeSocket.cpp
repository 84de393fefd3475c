// Unix-domain sockets on the volume. A socket is named by a path the kernel
// resolves on its own, which would follow the volume's links out of the
// root; so the folder is opened through the door and the socket is named
// through that descriptor ("/proc/self/fd/N/name"), which the kernel takes
// as the folder already found.

#include "platform/Volume.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The folder's descriptor and the socket's address through it.
struct SocketPlace
{
    int folder = -1;
    QByteArray name;
    sockaddr_un address{};
    ~SocketPlace()
    {
        if (folder >= 0)
            ::close(folder);
    }
};

bool placeOf(const Volume &volume, const LogicalPath &path, SocketPlace &place, QString *error)
{
    if (path.isRoot() || path.name().contains(QChar(0))) {
        setError(error, QStringLiteral("%1 can be no socket").arg(path.toString()));
        return false;
    }
    place.folder = volume.openDescriptor(path.parent(), O_PATH | O_DIRECTORY);
    if (place.folder < 0) {
        setError(error, QStringLiteral("%1: %2").arg(path.parent().toString(), systemError()));
        return false;
    }
    place.name = QFile::encodeName(path.name().toString());
    const QByteArray through = "/proc/self/fd/" + QByteArray::number(place.folder) + "/" + place.name;
    if (through.size() >= qsizetype(sizeof place.address.sun_path)) {
        setError(error, QStringLiteral("the socket's name is too long"));
        return false;
    }
    place.address.sun_family = AF_UNIX;
    std::memcpy(place.address.sun_path, through.constData(), size_t(through.size()) + 1);
    return true;
}

} // namespace

int Volume::listenOnSocket(const LogicalPath &path, QString *error) const
{
    SocketPlace place;
    if (!placeOf(*this, path, place, error))
        return -1;
    struct stat st;
    if (::fstatat(place.folder, place.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            setError(error, QStringLiteral("%1 is there and is no socket").arg(path.toString()));
            return -1;
        }
        ::unlinkat(place.folder, place.name.constData(), 0);
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setError(error, systemError());
        return -1;
    }
    // The mode is set by bind() itself, so no later chmod can be steered to
    // another item by a name swapped in between.
    const mode_t previous = ::umask(0111);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&place.address), sizeof place.address) == 0;
    const int bindError = errno;
    ::umask(previous);
    if (!bound || ::listen(fd, 64) != 0) {
        setError(error, QStringLiteral("%1: %2").arg(path.toString(),
                                                     QString::fromLocal8Bit(std::strerror(bound ? errno : bindError))));
        ::close(fd);
        return -1;
    }
    return fd;
}

int Volume::connectToSocket(const LogicalPath &path, QString *error) const
{
    SocketPlace place;
    if (!placeOf(*this, path, place, error))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setError(error, systemError());
        return -1;
    }
    int result;
    do
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&place.address), sizeof place.address);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        setError(error, QStringLiteral("%1: %2").arg(path.toString(), systemError()));
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace platform
