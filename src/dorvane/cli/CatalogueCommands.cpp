#include "dorvane/cli/CatalogueCommands.h"

#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/PackageFilter.h"
#include "dorvane/catalogue/PackageSize.h"
#include "dorvane/cli/JsonValue.h"
#include "kestrum/FileSystem.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

namespace {

std::optional<Catalogue> scanWithSizes()
{
    std::optional<Catalogue> catalogue = CatalogueScanner::scanOrComplain();
    if (!catalogue)
        return std::nullopt;
    for (const PackageRecord &record : catalogue->installerPackages) {
        const QStringList files = catalogue->filesForPackage.value(record.packageIdentifier());
        record.setInstallSize(PackageSize::text(PackageSize::bytes(record, files)));
    }
    return catalogue;
}

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
        return 2;
    }
    const std::optional<Catalogue> catalogue = scanWithSizes();
    if (!catalogue)
        return 1;
    const PackageFilter::Mode mode = parser.isSet(apps)      ? PackageFilter::Mode::Applications
                                     : parser.isSet(defunct) ? PackageFilter::Mode::Defunct
                                                             : PackageFilter::Mode::All;
    const QList<PackageRecord> shown = PackageFilter::filter(*catalogue, mode, parser.value(search));

    if (parser.isSet(json)) {
        QJsonArray array;
        for (const PackageRecord &record : shown)
            array.append(jsonFromPropertyList(record.values()));
        printJson(array);
        return 0;
    }
    QTextStream out(stdout);
    for (const PackageRecord &record : shown) {
        out << record.packageIdentifier() << '\t' << record.packageVersion() << '\t' << record.installSize()
            << (record.isDamaged() ? "\tdamaged" : "") << '\n';
    }
    out << PackageFilter::statistics(shown) << '\n';
    return 0;
}

int runFilesCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print a JSON array."));
    parser.addOption(json);
    if (!parser.parse(arguments) || parser.positionalArguments().isEmpty()) {
        std::fputs("usage: dorvane files ID... [--json]\n", stderr);
        return 2;
    }
    std::optional<Catalogue> catalogue = CatalogueScanner::scanOrComplain();
    if (!catalogue)
        return 1;
    const QStringList identifiers = parser.positionalArguments();
    for (const QString &identifier : identifiers) {
        if (!catalogue->filesForPackage.contains(identifier)) {
            std::fprintf(stderr, "dorvane: no listed package has the identifier %s\n", qPrintable(identifier));
            return 1;
        }
    }
    QJsonArray array;
    QTextStream out(stdout);
    for (const QString &identifier : identifiers) {
        const QStringList files = catalogue->filesForPackage.value(identifier);
        for (const QString &path : files) {
            const bool exists = kestrum::fileExists(path);
            if (parser.isSet(json))
                array.append(QJsonObject{{QStringLiteral("text"), path}, {QStringLiteral("exists"), exists}});
            else
                out << path << (exists ? "" : "\t(missing)") << '\n';
        }
    }
    if (parser.isSet(json))
        printJson(array);
    return 0;
}

} // namespace dorvane
