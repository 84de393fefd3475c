#pragma once

#include "platform/LogicalPath.h"

#include <QList>
#include <QStringList>

namespace dorvane {

// The locations whose contents an uninstall never touches: the fixed system
// folders (SystemLists::fixedIgnoredFolders()) always, and the folders the
// setting "IgnoredSystemFolders" adds. The user's list can only add
// protection: a fixed folder taken out of the setting stays ignored, since
// the helper tool, which decides as root, honours the fixed list whatever
// the user's settings say, and the plan must not offer what it would refuse.
class IgnoredLocations
{
public:
    // `settingEntries`: the setting's folders as stored ("/usr/bin/").
    explicit IgnoredLocations(const QStringList &settingEntries);

    // Whether the path is one of the folders or lies inside one. Both sides
    // are compared in their clean form and by the volume's identity, so no
    // spelling of a path escapes.
    bool contains(const platform::LogicalPath &path) const;

private:
    QList<platform::LogicalPath> m_folders;
};

} // namespace dorvane
