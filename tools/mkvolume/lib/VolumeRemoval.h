#pragma once

#include <QString>

namespace volumegen {

// Deletes a volume that VolumeBuilder::write() made, with everything in it,
// clearing the immutable flags that protect() set (which needs root, as
// setting them did). Refuses, without touching anything, a folder that is
// neither empty nor marked as a generated volume, so that a mistyped path
// never wipes a real disk. True when nothing is left at the path.
bool removeVolume(const QString &physicalRoot, QString *error = nullptr);

} // namespace volumegen
