#pragma once

#include "platform/LogicalPath.h"

#include <QList>
#include <QStringList>

#include <array>

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
    // Which ASCII characters begin a folder's folded name below "/": a path
    // can lie in a folder only when its key begins as the folder's, so most
    // paths are told with one look here. Non-ASCII ones are always tested.
    std::array<bool, 128> m_firstCharacters{};
};

} // namespace dorvane
