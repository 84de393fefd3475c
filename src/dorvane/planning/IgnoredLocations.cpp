#include "dorvane/planning/IgnoredLocations.h"

#include "dorvane/planning/SystemLists.h"
#include "platform/Volume.h"

namespace dorvane {

IgnoredLocations::IgnoredLocations(const QStringList &settingEntries)
{
    // Entries are cleaned like every other path: "/usr/bin/", "/usr//bin"
    // and "/usr/./bin" are one folder, and "/tmp/" is where /tmp leads.
    // An entry that names no path (an empty one) ignores everything from
    // "/" down: the safe reading.
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    for (const QString &entry : SystemLists::fixedIgnoredFolders() + settingEntries)
        m_folders.append(volume->path(entry).value_or(volume->top()));
}

bool IgnoredLocations::contains(const platform::LogicalPath &path) const
{
    return std::any_of(m_folders.cbegin(), m_folders.cend(),
                       [&](const platform::LogicalPath &folder) { return path.isWithin(folder); });
}

} // namespace dorvane
