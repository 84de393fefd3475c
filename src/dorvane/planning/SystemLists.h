#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace dorvane {

// Fixed lists the uninstall planning and the helper tool's own check rely on.
namespace SystemLists {

// The system folders whose items an uninstall never touches: always
// ignored as whole items, and the default of the setting
// "IgnoredSystemFolders" (Settings::defaultIgnoredSystemFolders()), one list
// for both uses.
const QStringList &fixedIgnoredFolders();

// Packages without which the system does not start; never uninstalled.
const QStringList &essentialPackages();
// Whether the identifier names one of them. Compared as the volume compares
// the receipts' file names, so "com.apple.pkg.bsd" is "com.apple.pkg.BSD".
bool isEssentialPackage(QStringView identifier);

// The names of the folders every Library folder may hold. An application
// named like one of them ("Fonts") must not make the planner offer the whole
// ~/Library/Fonts as its generated item.
const QSet<QString> &standardLibraryFolderNames();
// Whether the name is one of them in any spelling the volume takes for it
// ("fonts", "FONTS").
bool isStandardLibraryFolderName(QStringView name);

} // namespace SystemLists
} // namespace dorvane
