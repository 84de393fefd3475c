#pragma once

#include "dorvane/catalogue/Catalogue.h"

#include <optional>
#include <variant>

namespace dorvane {

// The listed packages that the command line names, in the order given; an
// identifier given twice is one selected package, as in the window's list.
// Nothing, with the reason on standard error, when an identifier names no
// listed package (a kept-out one included).
std::optional<QList<PackageRecord>> listedPackages(const Catalogue &catalogue, const QStringList &identifiers);

// What a command of the form "NAME ID... [--json]" works on: a fresh scan
// and the packages named.
struct NamedPackages
{
    Catalogue catalogue;
    QList<PackageRecord> selection;
    bool json = false;
    bool yes = false;   // agree to the command's question
};

// Parses the command's arguments, scans and selects; on failure the reason
// is on standard error and the command's exit code comes back instead.
std::variant<NamedPackages, int> namedPackages(const QStringList &arguments, const char *name, const char *jsonHelp);

} // namespace dorvane
