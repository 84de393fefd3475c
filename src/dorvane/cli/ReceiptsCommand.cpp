#include "dorvane/cli/ReceiptsCommand.h"

#include "dorvane/cli/ExitCode.h"
#include "dorvane/cli/JsonValue.h"
#include "dorvane/receipts/PackageHelperNative.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

int runReceiptsCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print a JSON array."));
    parser.addOption(json);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "usage: dorvane receipts [--json]\n");
        return ExitUsage;
    }

    QTextStream out(stdout);
    QJsonArray array;
    QList<PackageRecord> records = PackageHelperNative::getPackages();
    for (PackageRecord &record : records) {
        const platform::LogicalPath location = PackageHelperNative::installLocationForPackage(record);
        const QStringList files = PackageHelperNative::getFilesForPackage(record, location);
        if (parser.isSet(json)) {
            QJsonObject object = jsonFromPropertyList(record.values()).toObject();
            object.insert(QStringLiteral("InstallLocation"), location.toFolderString());
            object.insert(QStringLiteral("Files"), QJsonArray::fromStringList(files));
            array.append(object);
        } else {
            out << record.packageIdentifier() << '\t' << record.packageVersion() << '\t' << location.toFolderString() << '\t'
                << files.size() << (files.size() == 1 ? " file" : " files")
                << (record.isDamaged() ? "\tdamaged" : "") << '\n';
        }
    }
    if (parser.isSet(json))
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    return ExitSuccess;
}

} // namespace dorvane
