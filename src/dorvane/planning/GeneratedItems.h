#pragma once

#include <QString>
#include <QStringList>

namespace dorvane {

// Where an application keeps what it generates while it runs: the candidate
// paths the planner tests for one bundle identifier or one application name,
// in the order it tests them, "~" not yet expanded.
namespace GeneratedItems {

// The fourteen places named after a bundle identifier.
QStringList bundleIdentifierCandidates(const QString &bundleIdentifier);

// The ten places named after an application name, and the application's
// folder directly in the user's and the system's Library folder too, unless
// the name is that of a standard Library folder (an application called
// "Fonts" does not own ~/Library/Fonts).
QStringList applicationNameCandidates(const QString &appName);

// Whether a name may be appended to a Library folder at all: an empty name,
// one of slashes only, or one with a "." or ".." component would name the
// Library folder itself or one of its parents (a damaged or hostile
// Info.plist is enough for that).
bool isUsableName(const QString &name);

} // namespace GeneratedItems
} // namespace dorvane
