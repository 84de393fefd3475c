#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane list [--apps|--defunct] [--search TEXT] [--json]`: the catalogue
// as the window lists it, once every package has its size.
int runListCommand(const QStringList &arguments);

// `dorvane files ID... [--json]`: each package's files, and whether each is
// there (a link counts by what it leads to).
int runFilesCommand(const QStringList &arguments);

} // namespace dorvane
