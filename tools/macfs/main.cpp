// macfs: shows a folder at a mount point with the Mac's name lookup, so that
// tests on Linux meet a volume where "Foo" and "FOO", or "Café" composed and
// decomposed, are one name. Everything else passes through to the folder.

#include "Lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

using namespace macfs;

void *macInit(fuse_conn_info *, fuse_config *cfg)
{
    cfg->use_ino = 1;
    // Another spelling is another path to the kernel: nothing it caches by
    // name may outlive a change made under a different spelling.
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->attr_timeout = 0;
    // Hiding an open file renames it by its path, which would reach the
    // entry under any of its spellings; the backing folder keeps it alive.
    cfg->hard_remove = 1;
    return nullptr;
}

int macGetattr(const char *path, struct stat *st, fuse_file_info *fi)
{
    if (fi)
        return result(::fstat(int(fi->fh), st));
    Place place = resolve(path);
    if (place.error)
        return place.error;
    if (!place.exists)
        return -ENOENT;
    return result(::fstatat(place.parent.get(), place.name.c_str(), st, AT_SYMLINK_NOFOLLOW));
}

int macReadlink(const char *path, char *buffer, size_t size)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    const ssize_t length = ::readlinkat(place.parent.get(), place.name.c_str(), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int macMknod(const char *path, mode_t mode, dev_t device)
{
    Place place = newPlace(path);
    if (place.error)
        return place.error;
    if (::mknodat(place.parent.get(), place.name.c_str(), mode, device) < 0)
        return -errno;
    giveToCaller(place.parent.get(), place.name);
    return 0;
}

int macMkdir(const char *path, mode_t mode)
{
    Place place = newPlace(path);
    if (place.error)
        return place.error;
    if (::mkdirat(place.parent.get(), place.name.c_str(), mode) < 0)
        return -errno;
    giveToCaller(place.parent.get(), place.name);
    return 0;
}

int macUnlink(const char *path)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    return result(::unlinkat(place.parent.get(), place.name.c_str(), 0));
}

int macRmdir(const char *path)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    return result(::unlinkat(place.parent.get(), place.name.c_str(), AT_REMOVEDIR));
}

int macSymlink(const char *target, const char *path)
{
    Place place = newPlace(path);
    if (place.error)
        return place.error;
    if (::symlinkat(target, place.parent.get(), place.name.c_str()) < 0)
        return -errno;
    giveToCaller(place.parent.get(), place.name);
    return 0;
}

bool sameFolder(int a, int b)
{
    struct stat first, second;
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int macRename(const char *from, const char *to, unsigned int flags)
{
    Place source = resolve(from);
    if (source.error)
        return source.error;
    if (!source.exists)
        return -ENOENT;
    Place target = resolve(to);
    if (target.error)
        return target.error;
    const int sourceDir = source.parent.get();
    const int targetDir = target.parent.get();
    if (!target.folded)
        return result(::renameat2(sourceDir, source.name.c_str(), targetDir, target.name.c_str(), flags));

    // The target answers under another spelling.
    const std::string spelling = lastComponent(to);
    if (sameFolder(sourceDir, targetDir) && source.name == target.name) {
        // "foo" to "FOO": the one entry takes the new spelling.
        if (flags & RENAME_EXCHANGE)
            return 0;
        return result(::renameat2(sourceDir, source.name.c_str(), targetDir, spelling.c_str(), RENAME_NOREPLACE));
    }
    if (flags & RENAME_NOREPLACE)
        return -EEXIST;
    if (::renameat2(sourceDir, source.name.c_str(), targetDir, target.name.c_str(), flags) < 0)
        return -errno;
    if (!(flags & RENAME_EXCHANGE)) {
        // The replaced entry's spelling goes with it. Should the new one
        // have appeared meanwhile, the item stays under the old.
        ::renameat2(targetDir, target.name.c_str(), targetDir, spelling.c_str(), RENAME_NOREPLACE);
    }
    return 0;
}

int macLink(const char *from, const char *to)
{
    Place source = resolve(from);
    if (source.error)
        return source.error;
    Place target = newPlace(to);
    if (target.error)
        return target.error;
    return result(::linkat(source.parent.get(), source.name.c_str(), target.parent.get(), target.name.c_str(), 0));
}

int macChmod(const char *path, mode_t mode, fuse_file_info *fi)
{
    if (fi)
        return result(::fchmod(int(fi->fh), mode));
    Place place = resolve(path);
    if (place.error)
        return place.error;
    int error = 0;
    Fd item = openItem(place, &error);
    if (error)
        return error;
    struct stat st;
    if (::fstat(item.get(), &st) < 0)
        return -errno;
    if (S_ISLNK(st.st_mode))
        return -EOPNOTSUPP;
    return result(::chmod(procPath(item.get()).c_str(), mode));
}

int macChown(const char *path, uid_t uid, gid_t gid, fuse_file_info *fi)
{
    if (fi)
        return result(::fchown(int(fi->fh), uid, gid));
    Place place = resolve(path);
    if (place.error)
        return place.error;
    return result(::fchownat(place.parent.get(), place.name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int macTruncate(const char *path, off_t size, fuse_file_info *fi)
{
    if (fi)
        return result(::ftruncate(int(fi->fh), size));
    Place place = resolve(path);
    if (place.error)
        return place.error;
    Fd file(::openat(place.parent.get(), place.name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0)
        return -errno;
    return result(::ftruncate(file.get(), size));
}

int macUtimens(const char *path, const struct timespec times[2], fuse_file_info *fi)
{
    if (fi)
        return result(::futimens(int(fi->fh), times));
    Place place = resolve(path);
    if (place.error)
        return place.error;
    return result(::utimensat(place.parent.get(), place.name.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int macOpen(const char *path, fuse_file_info *fi)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    const int fd = ::openat(place.parent.get(), place.name.c_str(), (fi->flags & ~O_CREAT) | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    fi->fh = uint64_t(fd);
    return 0;
}

int macCreate(const char *path, mode_t mode, fuse_file_info *fi)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    if (place.exists) {
        // Another spelling of an existing file opens that file.
        if (fi->flags & O_EXCL)
            return -EEXIST;
        return macOpen(path, fi);
    }
    const int fd = ::openat(place.parent.get(), place.name.c_str(),
                            fi->flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return -errno;
    giveToCaller(place.parent.get(), place.name);
    fi->fh = uint64_t(fd);
    return 0;
}

int macRead(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *fi)
{
    const ssize_t count = ::pread(int(fi->fh), buffer, size, offset);
    return count < 0 ? -errno : int(count);
}

int macWrite(const char *, const char *buffer, size_t size, off_t offset, fuse_file_info *fi)
{
    const ssize_t count = ::pwrite(int(fi->fh), buffer, size, offset);
    return count < 0 ? -errno : int(count);
}

int macStatfs(const char *, struct statvfs *st)
{
    return result(::fstatvfs(backingRoot, st));
}

int macFlush(const char *, fuse_file_info *fi)
{
    // close() of a duplicate reports the errors a close would, without
    // giving up the descriptor other handles of the file still use.
    return result(::close(::dup(int(fi->fh))));
}

int macRelease(const char *, fuse_file_info *fi)
{
    ::close(int(fi->fh));
    return 0;
}

int macFsync(const char *, int dataOnly, fuse_file_info *fi)
{
    return result(dataOnly ? ::fdatasync(int(fi->fh)) : ::fsync(int(fi->fh)));
}

int macOpendir(const char *path, fuse_file_info *fi)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    Fd fd(::openat(place.parent.get(), place.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return -errno;
    DIR *stream = ::fdopendir(fd.get());
    if (!stream)
        return -errno;
    fd.release();
    fi->fh = uint64_t(reinterpret_cast<uintptr_t>(stream));
    return 0;
}

int macReaddir(const char *, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *fi, fuse_readdir_flags)
{
    // Offsets of zero: the library keeps the whole listing, which is small.
    DIR *stream = reinterpret_cast<DIR *>(uintptr_t(fi->fh));
    ::rewinddir(stream);
    errno = 0;
    while (const dirent *entry = ::readdir(stream)) {
        struct stat st {};
        st.st_ino = entry->d_ino;
        st.st_mode = mode_t(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &st, 0, fuse_fill_dir_flags(0)))
            return 0;
    }
    return -errno;
}

int macReleasedir(const char *, fuse_file_info *fi)
{
    ::closedir(reinterpret_cast<DIR *>(uintptr_t(fi->fh)));
    return 0;
}

int macAccess(const char *path, int mask)
{
    Place place = resolve(path);
    if (place.error)
        return place.error;
    if (!place.exists)
        return -ENOENT;
    return result(::faccessat(place.parent.get(), place.name.c_str(), mask, AT_SYMLINK_NOFOLLOW));
}

fuse_operations operations()
{
    fuse_operations ops {};
    ops.init = macInit;
    ops.getattr = macGetattr;
    ops.readlink = macReadlink;
    ops.mknod = macMknod;
    ops.mkdir = macMkdir;
    ops.unlink = macUnlink;
    ops.rmdir = macRmdir;
    ops.symlink = macSymlink;
    ops.rename = macRename;
    ops.link = macLink;
    ops.chmod = macChmod;
    ops.chown = macChown;
    ops.truncate = macTruncate;
    ops.utimens = macUtimens;
    ops.open = macOpen;
    ops.create = macCreate;
    ops.read = macRead;
    ops.write = macWrite;
    ops.statfs = macStatfs;
    ops.flush = macFlush;
    ops.release = macRelease;
    ops.fsync = macFsync;
    ops.opendir = macOpendir;
    ops.readdir = macReaddir;
    ops.releasedir = macReleasedir;
    ops.access = macAccess;
    return ops;
}

std::optional<std::string> backingArgument;

int takeBacking(void *, const char *arg, int key, fuse_args *)
{
    if (key == FUSE_OPT_KEY_NONOPT && !backingArgument) {
        backingArgument = arg;
        return 0;
    }
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, nullptr, nullptr, takeBacking) != 0)
        return 1;
    if (!backingArgument) {
        std::fprintf(stderr, "usage: %s BACKING MOUNTPOINT [-f] [-d] [-s] [-o OPTION...]\n", argv[0]);
        return 1;
    }
    backingRoot = ::open(backingArgument->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (backingRoot < 0) {
        std::fprintf(stderr, "macfs: %s: %s\n", backingArgument->c_str(), std::strerror(errno));
        return 1;
    }
    // The kernel has applied the caller's umask already.
    ::umask(0);
    // The option parser splits at commas and takes a backslash as escape.
    std::string source;
    for (const char c : *backingArgument) {
        if (c == ',' || c == '\\')
            source += '\\';
        source += c;
    }
    const std::string names = "-ofsname=macfs:" + source + ",subtype=macfs";
    // The library's own default for idle threads is out of its range and
    // only draws a warning; ten is its default for all threads.
    fuse_opt_add_arg(&args, "-odefault_permissions,allow_other,max_idle_threads=10");
    fuse_opt_add_arg(&args, names.c_str());
    const fuse_operations ops = operations();
    const int status = fuse_main(args.argc, args.argv, &ops, nullptr);
    fuse_opt_free_args(&args);
    return status;
}
