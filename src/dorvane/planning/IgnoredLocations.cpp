#include "dorvane/planning/IgnoredLocations.h"

#include "dorvane/planning/SystemLists.h"
#include "platform/Volume.h"

namespace dorvane {

namespace {

// The first character of the key below "/" when it is ASCII; 0 for "/"
// itself and for any other character.
size_t firstCharacter(const platform::LogicalPath &path)
{
    const char16_t first = path.isRoot() ? 0 : path.key().at(1).unicode();
    return first < 128 ? first : 0;
}

} // namespace

IgnoredLocations::IgnoredLocations(const QStringList &settingEntries)
{
    // Entries are cleaned like every other path: "/usr/bin/", "/usr//bin"
    // and "/usr/./bin" are one folder, and "/tmp/" is where /tmp leads.
    // An entry that names no path (an empty one) ignores everything from
    // "/" down: the safe reading.
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    for (const QString &entry : SystemLists::fixedIgnoredFolders() + settingEntries)
        m_folders.append(volume->path(entry).value_or(volume->top()));
    for (const platform::LogicalPath &folder : std::as_const(m_folders)) {
        if (folder.isRoot())
            m_firstCharacters.fill(true);   // "/" holds every path
        else
            m_firstCharacters[firstCharacter(folder)] = true;
    }
}

bool IgnoredLocations::contains(const platform::LogicalPath &path) const
{
    if (!m_firstCharacters[firstCharacter(path)])
        return false;
    return std::any_of(m_folders.cbegin(), m_folders.cend(),
                       [&](const platform::LogicalPath &folder) { return path.isWithin(folder); });
}

} // namespace dorvane
