#pragma once

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

    // Whether the path lies inside one of the setting's folders (a plain
    // prefix test up to the folder's "/"), or is one of those folders or a
    // fixed system folder itself. The entries are compared standardized
    // (StandardizedPath.h); the path as the bills list it.
    bool contains(const QString &path) const;

private:
    QStringList m_prefixes;   // each standardized entry followed by "/"
    QSet<QString> m_exact;    // each standardized entry, and each fixed folder
};

} // namespace dorvane
