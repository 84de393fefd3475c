#include "dorvane/planning/IgnoredLocations.h"

#include "dorvane/Settings.h"
#include "dorvane/planning/StandardizedPath.h"
#include "kestrum/DefaultsKey.h"

namespace dorvane {

IgnoredLocations::IgnoredLocations(const QStringList &settingEntries)
{
    for (const QString &entry : settingEntries) {
        const QString folder = standardizedPath(entry);
        m_prefixes.append(folder + QLatin1Char('/'));
        m_exact.insert(folder);
    }
    // The setting's default is the list of fixed system folders.
    for (const QString &fixed : Settings::defaultIgnoredSystemFolders())
        m_exact.insert(standardizedPath(fixed));
}

IgnoredLocations IgnoredLocations::fromSettings()
{
    return IgnoredLocations(kestrum::DefaultsKey(Settings::kIgnoredSystemFolders).defaultStringArray());
}

bool IgnoredLocations::contains(const QString &path) const
{
    for (const QString &prefix : m_prefixes) {
        if (path.startsWith(prefix))
            return true;
    }
    return m_exact.contains(path);
}

} // namespace dorvane
