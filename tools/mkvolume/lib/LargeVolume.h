#pragma once

#include "DemoVolume.h"

namespace volumegen {

// Which of the listed files the large volume puts on disk: making half a
// million files takes a while, and many measurements need the receipts only.
enum class FilesOnDisk {
    All,
    None,     // receipts and bills only; every listed path is "already gone"
    Sample,   // every folder, and one file in `sampleEvery` (chosen by path, not by order)
};

struct LargeVolumeOptions : VolumeOptions
{
    int packages = 400;
    qint64 paths = 500000;   // bill entries of all packages together
    FilesOnDisk files = FilesOnDisk::All;
    int sampleEvery = 10;
};

// A volume the size of a well-used Mac: many vendors, each with a few
// packages (applications, command-line tools, frameworks, content), folder
// trees of realistic depth, a support folder every package of a vendor
// lists and a framework two of its packages share. Mostly system receipts,
// a few for the user only and a few legacy bundles; some installed by
// Software Update. The number of bill entries is `paths` exactly, unless the
// packages' fixed parts alone exceed it.
void populateLargeVolume(VolumeBuilder &builder, const LargeVolumeOptions &options);

bool buildLargeVolume(const QString &physicalRoot, const LargeVolumeOptions &options, VolumeStats *stats = nullptr,
                      QString *error = nullptr);
// The same with the default home.
bool buildLargeVolume(const QString &physicalRoot, quint32 seed, int packages, qint64 paths, FilesOnDisk files,
                      QString *error = nullptr);

} // namespace volumegen
