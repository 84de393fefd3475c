#pragma once

#include "platform/LogicalPath.h"

#include <QString>

#include <optional>

namespace platform {

// The descriptor of the volume root that every door call starts from. Kept
// apart from Volume so that each system's door lives in a file of its own.
namespace VolumeRoot {

// Opens the physical folder as the new root (closing the old one).
bool open(const QString &physicalRoot, QString *error);

// The root's descriptor; the machine's own "/" until open() is called.
int descriptor();

// The root as the kernel names it (links resolved), to turn the kernel's
// answers back into logical paths.
QString canonicalPath();

// A path as the kernel names it (from the machine's "/", links resolved)
// as a logical path; nothing when it lies outside the root.
std::optional<LogicalPath> logicalPathOf(const QString &kernelPath);

// A descriptor of the item, opened inside the volume with the given open
// flags, for the one caller that must act without resolving paths later (a
// signal handler); -1 on failure. The caller owns it.
int openDescriptor(const LogicalPath &path, int flags);

} // namespace VolumeRoot
} // namespace platform
