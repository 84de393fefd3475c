#pragma once

// The floor the benchmarks set beside the program: each path's folder opened
// once, then one statx per path with the door's own flags and fields, and
// nothing else, on the physical tree.

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

struct RawPath
{
    QByteArray folder;
    QByteArray name;
};

// The logical paths as physical folder and name under the volume root.
inline std::vector<RawPath> rawPaths(const QString &root, const QStringList &paths)
{
    std::vector<RawPath> raw;
    raw.reserve(size_t(paths.size()));
    for (const QString &path : paths) {
        const QByteArray physical = QFile::encodeName(root + path);
        const qsizetype slash = physical.lastIndexOf('/');
        raw.push_back({physical.left(slash), physical.mid(slash + 1)});
    }
    return raw;
}

inline quint64 statxLoop(const std::vector<RawPath> &paths, size_t begin, size_t end)
{
    constexpr unsigned kMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_SIZE | STATX_INO | STATX_MTIME
                               | STATX_CTIME | STATX_BTIME;
    quint64 bytes = 0;
    int folder = -1;
    const QByteArray *open = nullptr;
    for (size_t i = begin; i < end; ++i) {
        if (!open || *open != paths[i].folder) {
            if (folder >= 0)
                ::close(folder);
            folder = ::open(paths[i].folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            open = &paths[i].folder;
        }
        struct statx st;
        if (::statx(folder, paths[i].name.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kMask, &st) == 0)
            bytes += st.stx_size;
    }
    if (folder >= 0)
        ::close(folder);
    return bytes;
}

// The same loop with the paths cut by folder into one run per core.
inline quint64 statxThreads(const std::vector<RawPath> &paths, int threads)
{
    std::vector<size_t> cuts{0};
    for (int t = 1; t < threads; ++t) {
        size_t cut = std::max(cuts.back(), paths.size() * size_t(t) / size_t(threads));
        while (cut > 0 && cut < paths.size() && paths[cut].folder == paths[cut - 1].folder)
            ++cut;
        cuts.push_back(cut);
    }
    cuts.push_back(paths.size());
    std::vector<quint64> bytes(size_t(threads), 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] { bytes[size_t(t)] = statxLoop(paths, cuts[size_t(t)], cuts[size_t(t) + 1]); });
    for (std::thread &worker : workers)
        worker.join();
    quint64 total = 0;
    for (const quint64 part : bytes)
        total += part;
    return total;
}

