#include "dorvane/catalogue/PackageSize.h"

#include "dorvane/planning/PathProbe.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"

#include <cmath>

namespace dorvane::PackageSize {

namespace {

// Each item's own size, given a path of the table at a time.
template<typename ForEachFile>
quint64 measured(const PackageRecord &record, ForEachFile &&forEachFile)
{
    quint64 total = record.isLegacy() ? kestrum::directorySize(record.pkgPath())
                                      : kestrum::fileSize(record.bomPath()) + kestrum::fileSize(record.plistPath());
    // A bill lists a folder's items together: the probe opens each folder
    // once and asks one status per item, by the table's own bytes, so half
    // a million paths need no string.
    PathProbe probe;
    forEachFile([&](QByteArrayView path) {
        const PathProbe::Item item = probe.lookClean(path);
        if (item.kind != PathProbe::Item::Kind::Folder)
            total += item.size;
    });
    return total;
}

} // namespace

quint64 bytes(const PackageRecord &record, const Catalogue &catalogue)
{
    return measured(record, [&](const auto &visit) {
        const PathTable &paths = catalogue.paths();
        for (const Catalogue::PathId id : catalogue.fileIdsForPackage(record.packageIdentifier()))
            visit(paths.utf8(id));
    });
}

quint64 bytes(const PackageRecord &record, const std::vector<QByteArrayView> &files)
{
    return measured(record, [&](const auto &visit) {
        for (const QByteArrayView path : files)
            visit(path);
    });
}

double shownMegabytes(quint64 bytes)
{
    return std::round(double(bytes) / 1048576.0 * 10.0) / 10.0;
}

} // namespace dorvane::PackageSize
