#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

// The installer framework's view of a bill of materials: the paths it
// lists, relative to the install folder. Opening fails when the file cannot
// be read or is no bill at all; listing fails when the bill is damaged
// inside, which on a Mac surfaces as an exception while enumerating.
class PackageBOM
{
public:
    static std::optional<PackageBOM> openWithBOMPath(const QString &bomPath);   // logical

    // Every path the bill lists, folders and files, in the bill's order;
    // nothing when the bill is damaged, with the reason in *error.
    std::optional<QStringList> paths(QString *error = nullptr) const;

private:
    QString m_physicalPath;
};

} // namespace platform
