#pragma once

#include "platform/LogicalPath.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace dorvane {

// The locations whose contents an uninstall never touches: what the setting
// "IgnoredSystemFolders" lists, and always the fixed system folders
// themselves, whatever the user took out of the setting. A fixed folder
// stays ignored as a whole item even then, since removing /usr/bin would
// break the system; only the files inside it become removable again.
class IgnoredLocations
{
public:
    // `settingEntries`: the setting's folders as stored ("/usr/bin/").
    explicit IgnoredLocations(const QStringList &settingEntries);

    // The setting as it is now in the user defaults.
    static IgnoredLocations fromSettings();

    // Whether the path lies inside one of the setting's folders, or is one
    // of those folders or a fixed system folder itself. Both sides are
    // compared in their clean form, so no spelling of a path escapes.
    bool contains(const platform::LogicalPath &path) const;

private:
    QList<platform::LogicalPath> m_folders;   // the setting's entries
    QSet<platform::LogicalPath> m_exact;      // each entry, and each fixed folder
};

} // namespace dorvane
