#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace dorvane {

// Fixed lists the uninstall planning relies on. The folders that are always
// ignored are not here: they are the default of the setting
// "IgnoredSystemFolders" (Settings::defaultIgnoredSystemFolders()), one list
// for both uses.
namespace SystemLists {

// Packages without which the system does not start; never uninstalled.
// Compared by exact identifier.
const QStringList &essentialPackages();

// The names of the folders every Library folder may hold. An application
// named like one of them ("Fonts") must not make the planner offer the whole
// ~/Library/Fonts as its generated item. Exact, case-sensitive names.
const QSet<QString> &standardLibraryFolderNames();

} // namespace SystemLists
} // namespace dorvane
