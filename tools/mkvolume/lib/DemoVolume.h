#pragma once

#include "VolumeBuilder.h"

#include <QString>
#include <QStringList>

namespace volumegen {

struct VolumeOptions
{
    quint32 seed = 1;
    QString home = QStringLiteral("/Users/demo");   // logical home folder
    // Set the immutable flag on the items meant to be protected. Off by
    // default: a protected item makes a plain "rm -rf" of the volume fail
    // (removeVolume() copes), and setting it needs root.
    bool protect = false;
};

// The demo volume: a few dozen packages of invented vendors, chosen so that
// every case the catalogue and the uninstall planner tell apart occurs at
// least once (listed in the table of tools/mkvolume/README.md). The set of
// packages is fixed; the seed changes sizes and dates.
void populateDemoVolume(VolumeBuilder &builder, quint32 seed);

// The items the demo protects when asked (logical paths, files before the
// folders that hold them).
QStringList demoProtectedPaths();

// Builds the demo volume at a physical folder. False with *error when it
// cannot; a protection that does not take is not an error (see
// VolumeStats::protectedPaths).
bool buildDemoVolume(const QString &physicalRoot, const VolumeOptions &options, VolumeStats *stats = nullptr,
                     QString *error = nullptr);
// The same with the default home and nothing protected.
bool buildDemoVolume(const QString &physicalRoot, quint32 seed, QString *error = nullptr);

} // namespace volumegen
