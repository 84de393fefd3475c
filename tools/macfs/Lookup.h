#pragma once

// How macfs finds a name in the backing folder as the Mac would: another
// spelling of a stored name (case, Unicode form) is that name.

#define FUSE_USE_VERSION 35

#include <fuse.h>

#include <string>
#include <string_view>
#include <utility>

#include <unistd.h>

namespace macfs {

// The backing folder, opened once at start.
extern int backingRoot;

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// A path of the mount as the backing folder holds it: the folder that holds
// the last component, and that component's stored spelling when an entry
// answers to it, else the spelling asked for.
struct Place
{
    Fd parent;
    std::string name;
    bool exists = false;
    bool folded = false; // found under another spelling
    int error = 0;
};

Place resolve(const char *path);
// The last component as it was asked for, for names being made.
std::string lastComponent(const char *path);
int result(int rc);
// Root makes the items, so they are handed to the process that asked, as
// the kernel would have done; a set-group-ID folder keeps its group.
void giveToCaller(int dir, const std::string &name);
// The place where a new name goes: refused with EEXIST when another
// spelling of it is already there, as on the Mac.
Place newPlace(const char *path);
// chmod(2) and friends follow links, and there is no lchmod on Linux: the
// item is opened without following, then changed through its descriptor.
Fd openItem(const Place &place, int *error);
std::string procPath(int fd);

} // namespace macfs
