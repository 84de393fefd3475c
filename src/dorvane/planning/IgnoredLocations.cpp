#include "dorvane/planning/IgnoredLocations.h"

#include "dorvane/Settings.h"
#include "kestrum/DefaultsKey.h"
#include "platform/Volume.h"

namespace dorvane {

IgnoredLocations::IgnoredLocations(const QStringList &settingEntries)
{
    // Entries are cleaned like every other path: "/usr/bin/", "/usr//bin"
    // and "/usr/./bin" are one folder, and "/tmp/" is where /tmp leads.
    // An entry that names no path (an empty one) ignores everything from
    // "/" down: the safe reading.
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    for (const QString &entry : settingEntries) {
        const platform::LogicalPath folder = volume->path(entry).value_or(volume->top());
        m_folders.append(folder);
        m_exact.insert(folder);
    }
    // The setting's default is the list of fixed system folders.
    for (const QString &fixed : Settings::defaultIgnoredSystemFolders())
        m_exact.insert(volume->path(fixed).value_or(volume->top()));
}

IgnoredLocations IgnoredLocations::fromSettings()
{
    return IgnoredLocations(kestrum::DefaultsKey(Settings::kIgnoredSystemFolders).defaultStringArray());
}

bool IgnoredLocations::contains(const platform::LogicalPath &path) const
{
    for (const platform::LogicalPath &folder : m_folders) {
        if (path.isWithin(folder))
            return true;
    }
    return m_exact.contains(path);
}

} // namespace dorvane
