#pragma once

// The parts of the volume door that its files share: descriptors, error
// texts, the status of a name, and the mount and link rules every removal
// and move keeps. Linux only; nothing outside the door includes it.

#include "platform/Volume.h"

#include <linux/openat2.h>
#include <unistd.h>

#include <optional>
#include <utility>

namespace platform::door {

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    Descriptor(Descriptor &&o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&o) noexcept
    {
        std::swap(m_fd, o.m_fd);
        return *this;
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

QString errorText(int error);
void setError(QString *error, const QString &text);
// A name as a C string; nothing when it holds a NUL, which the kernel
// would take for its end and so reach another item.
std::optional<QByteArray> cName(QStringView name);
ItemStatus::Type typeOf(unsigned mode);
// The status of `name` relative to the descriptor (the descriptor itself for
// an empty name), never following a link. The immutable flag comes with the
// status, so a protected item is recognised without being opened, even when
// the user may not read it.
std::optional<ItemStatus> statusAt(int folder, const char *name);
// Reopens an O_PATH descriptor for reading, through the descriptor itself:
// the item checked is the item opened, with no second lookup by name.
int reopen(int pathDescriptor, int flags);
std::optional<QList<VolumeFolder::Entry>> readEntries(int folder);

// The folders above an item to remove or move are reached with no link on
// the way and on one file system: a path through a link is refused whole.
constexpr quint64 kRemovalResolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV;

// The mount under a descriptor, and whether it is the root of a mount: a
// folder where another file system (or a bind mount of this one) begins.
struct MountOf
{
    quint64 id = 0;
    bool isRoot = false;
};

std::optional<MountOf> mountOf(int fd);
// Whether the opened folder lies on the given mount and is no mount point.
bool onMount(int fd, quint64 mountId);
inline const QString kMountPoint = QStringLiteral("a file system is mounted there: nothing on it is removed");
void keepFirst(QString &failure, const QString &reason);

// The named item of an open folder, opened without following a link and
// judged by that descriptor. `answer` is what to give back at once: a
// failure, or Missing when nothing is there.
struct OpenedItem
{
    Descriptor fd;
    bool isFolder = false;
    std::optional<Volume::Removal> answer;
};

OpenedItem openItem(int parent, const QByteArray &name);

} // namespace platform::door
