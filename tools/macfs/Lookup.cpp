#include "Lookup.h"

#include "platform/NameFolding.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace macfs {

int backingRoot = -1;

namespace {

QByteArray folded(std::string_view name)
{
    return platform::foldedNameUtf8(QByteArrayView(name.data(), qsizetype(name.size())));
}

// The entry of `dir` that answers to `name`: itself when it exists, else the
// one whose folded form is the same. Several stored spellings of one name
// (the backing folder is case sensitive) give the least, so that the answer
// does not depend on the directory's order.
int findEntry(int dir, std::string_view name, std::string *found, bool *exists)
{
    struct stat st;
    const std::string spelled(name);
    *found = spelled;
    *exists = false;
    if (::fstatat(dir, spelled.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        *exists = true;
        return 0;
    }
    if (errno != ENOENT)
        return -errno;
    Fd readable(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.get() < 0)
        return -errno;
    DIR *stream = ::fdopendir(readable.get());
    if (!stream)
        return -errno;
    readable.release();
    const QByteArray wanted = folded(name);
    while (const dirent *entry = ::readdir(stream)) {
        const std::string_view candidate(entry->d_name);
        if (candidate == "." || candidate == "..")
            continue;
        if (folded(candidate) == wanted && (!*exists || candidate < *found)) {
            *found = candidate;
            *exists = true;
        }
    }
    ::closedir(stream);
    return 0;
}

} // namespace

// Walks the path one component at a time from the backing root, never
// through a link: the kernel resolves links above us, so a link met here
// would lead out of the backing folder.
Place resolve(const char *path)
{
    Place place;
    place.parent = Fd(::dup(backingRoot));
    std::string_view rest(path);
    // Drops the slashes before the next component; true when none is left,
    // and then the place is the folder itself.
    const auto atFolder = [&] {
        while (!rest.empty() && rest.front() == '/')
            rest.remove_prefix(1);
        if (!rest.empty())
            return false;
        place.name = ".";
        place.exists = true;
        return true;
    };
    if (atFolder())
        return place;
    for (;;) {
        const size_t slash = rest.find('/');
        const std::string_view component = rest.substr(0, slash);
        if (component == "." || component == "..") {
            place.error = -EINVAL;
            return place;
        }
        std::string stored;
        bool exists = false;
        if (int error = findEntry(place.parent.get(), component, &stored, &exists)) {
            place.error = error;
            return place;
        }
        if (slash == std::string_view::npos) {
            place.folded = exists && stored != component;
            place.name = std::move(stored);
            place.exists = exists;
            return place;
        }
        if (!exists) {
            place.error = -ENOENT;
            return place;
        }
        Fd next(::openat(place.parent.get(), stored.c_str(),
                         O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            place.error = errno == ELOOP ? -ENOTDIR : -errno;
            return place;
        }
        place.parent = std::move(next);
        rest = rest.substr(slash + 1);
        if (atFolder())   // a trailing slash
            return place;
    }
}

std::string lastComponent(const char *path)
{
    std::string_view text(path);
    while (text.size() > 1 && text.back() == '/')
        text.remove_suffix(1);
    const size_t slash = text.rfind('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

int result(int rc)
{
    return rc < 0 ? -errno : 0;
}

void giveToCaller(int dir, const std::string &name)
{
    if (::geteuid() != 0)
        return;
    const fuse_context *context = fuse_get_context();
    struct stat folder;
    gid_t group = context->gid;
    if (::fstat(dir, &folder) == 0 && (folder.st_mode & S_ISGID))
        group = gid_t(-1);
    ::fchownat(dir, name.c_str(), context->uid, group, AT_SYMLINK_NOFOLLOW);
}

Place newPlace(const char *path)
{
    Place place = resolve(path);
    if (!place.error && place.exists)
        place.error = -EEXIST;
    return place;
}

Fd openItem(const Place &place, int *error)
{
    Fd item(::openat(place.parent.get(), place.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    *error = item.get() < 0 ? -errno : 0;
    return item;
}

std::string procPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace macfs
