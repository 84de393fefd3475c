#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane list [--apps|--defunct] [--search TEXT] [--json]`: the catalogue
// as the window lists it, once every package has its size.
int runListCommand(const QStringList &arguments);

// `dorvane files ID... [--json]`: the rows of the window's package view:
// each package's files, and whether each is there (a link counts by what it
// leads to); a damaged package is reported on standard error.
int runFilesCommand(const QStringList &arguments);

} // namespace dorvane
