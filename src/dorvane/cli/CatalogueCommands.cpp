#include "dorvane/cli/CatalogueCommands.h"

#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/PackageFilter.h"
#include "dorvane/catalogue/SizePass.h"
#include "dorvane/cli/ExitCode.h"
#include "dorvane/cli/JsonValue.h"
#include "dorvane/cli/ListedPackages.h"
#include "dorvane/viewing/PackageContents.h"
#include "kestrum/Alert.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

namespace {

void printJson(const QJsonArray &array)
{
    QTextStream(stdout) << QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace

int runListCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption apps(QStringLiteral("apps"), QStringLiteral("Only packages that installed an application."));
    const QCommandLineOption defunct(QStringLiteral("defunct"),
                                     QStringLiteral("Only packages whose application is gone."));
    const QCommandLineOption search(QStringLiteral("search"), QStringLiteral("Only packages whose file name or "
                                                                             "identifier holds TEXT."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print a JSON array."));
    parser.addOptions({apps, defunct, search, json});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()
        || (parser.isSet(apps) && parser.isSet(defunct))) {
        std::fputs("usage: dorvane list [--apps|--defunct] [--search TEXT] [--json]\n", stderr);
        return ExitUsage;
    }
    SizesWhileScanning sizes;
    const std::optional<Catalogue> catalogue = CatalogueScanner::scanOrComplain(sizes.observer());
    if (!catalogue)
        return ExitFailure;
    sizes.finish();
    const PackageFilter::Mode mode = parser.isSet(apps)      ? PackageFilter::Mode::Applications
                                     : parser.isSet(defunct) ? PackageFilter::Mode::Defunct
                                                             : PackageFilter::Mode::All;
    const QList<PackageRecord> shown = PackageFilter::filter(*catalogue, mode, parser.value(search));

    if (parser.isSet(json)) {
        QJsonArray array;
        for (const PackageRecord &record : shown)
            array.append(jsonFromPropertyList(record.values()));
        printJson(array);
        return ExitSuccess;
    }
    QTextStream out(stdout);
    for (const PackageRecord &record : shown) {
        out << record.packageIdentifier() << '\t' << record.packageVersion() << '\t' << record.installSize()
            << (record.isDamaged() ? "\tdamaged" : "") << '\n';
    }
    out << PackageFilter::statistics(shown) << '\n';
    return ExitSuccess;
}

int runFilesCommand(const QStringList &arguments)
{
    const std::variant<NamedPackages, int> named = namedPackages(arguments, "files", "Print a JSON array.");
    if (const int *exitCode = std::get_if<int>(&named))
        return *exitCode;
    const NamedPackages &packages = std::get<NamedPackages>(named);

    // The rows of the window's package view, and its word on damaged packages.
    const PackageContents contents = PackageContents::gather(packages.selection, packages.catalogue);
    if (packages.json) {
        QJsonArray array;
        for (const PackageContents::Row &row : contents.rows)
            array.append(QJsonObject{{QStringLiteral("text"), row.text}, {QStringLiteral("exists"), row.exists}});
        printJson(array);
    } else {
        QTextStream out(stdout);
        for (const PackageContents::Row &row : contents.rows)
            out << row.text << (row.exists ? "" : "\t(missing)") << '\n';
    }
    if (contents.anyDamaged)
        kestrum::alert_apptitled(PackageContents::kDamagedMessage, QStringLiteral("OK"));
    return ExitSuccess;
}

} // namespace dorvane
