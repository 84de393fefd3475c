#include "dorvane/cli/ListedPackages.h"

#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/cli/ExitCode.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cstdio>

namespace dorvane {

std::optional<QList<PackageRecord>> listedPackages(const Catalogue &catalogue, const QStringList &identifiers)
{
    QList<PackageRecord> selection;
    QStringList selected;
    for (const QString &identifier : identifiers) {
        if (selected.contains(identifier))
            continue;
        const auto record = std::find_if(catalogue.installerPackages.cbegin(), catalogue.installerPackages.cend(),
                                         [&](const PackageRecord &r) { return r.packageIdentifier() == identifier; });
        if (record == catalogue.installerPackages.cend()) {
            std::fprintf(stderr, "dorvane: no listed package has the identifier %s\n", qPrintable(identifier));
            return std::nullopt;
        }
        selection.append(*record);
        selected.append(identifier);
    }
    return selection;
}

std::variant<NamedPackages, int> namedPackages(const QStringList &arguments, const char *name, const char *jsonHelp)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QString::fromLatin1(jsonHelp));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Agree to the question."));
    parser.addOption(json);
    parser.addOption(yes);
    if (!parser.parse(arguments) || parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "usage: dorvane %s ID... [--json] [--yes]\n", name);
        return ExitUsage;
    }
    std::optional<Catalogue> catalogue = CatalogueScanner::scanOrComplain();
    if (!catalogue)
        return ExitFailure;
    std::optional<QList<PackageRecord>> selection = listedPackages(*catalogue, parser.positionalArguments());
    if (!selection)
        return ExitUsage;
    return NamedPackages{std::move(*catalogue), std::move(*selection), parser.isSet(json), parser.isSet(yes)};
}

} // namespace dorvane
