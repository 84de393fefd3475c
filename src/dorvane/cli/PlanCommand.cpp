#include "dorvane/cli/PlanCommand.h"

#include "dorvane/ProtectionStatus.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/cli/ExitCode.h"
#include "dorvane/cli/ListedPackages.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "kestrum/Format.h"
#include "platform/Volume.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

QJsonObject planJson(const UninstallPlan &plan)
{
    QJsonArray shared;
    for (const SharedFile &file : plan.sharedFiles) {
        shared.append(QJsonObject{{QStringLiteral("path"), file.path.toString()},
                                  {QStringLiteral("usedBy"), QJsonArray::fromStringList(file.usedBy)}});
    }
    // Byte counts stay exact in a JSON number up to 2^53, far beyond any disk.
    const QJsonObject sizes{{QStringLiteral("removeBytes"), double(plan.sizes.removeBytes)},
                            {QStringLiteral("ignoredBytes"), double(plan.sizes.ignoredBytes)},
                            {QStringLiteral("sharedBytes"), double(plan.sizes.sharedBytes)}};
    return QJsonObject{
        {QStringLiteral("removeFiles"), QJsonArray::fromStringList(platform::toStrings(plan.removeFiles))},
        {QStringLiteral("removeFolders"), QJsonArray::fromStringList(platform::toStrings(plan.removeFolders))},
        {QStringLiteral("removeRemaining"), QJsonArray::fromStringList(platform::toStrings(plan.removeRemaining))},
        {QStringLiteral("removeGenerated"), QJsonArray::fromStringList(platform::toStrings(plan.removeGenerated))},
        {QStringLiteral("ignoredFiles"), QJsonArray::fromStringList(platform::toStrings(plan.ignoredFiles))},
        {QStringLiteral("sharedFiles"), shared},
        {QStringLiteral("missingPaths"), QJsonArray::fromStringList(platform::toStrings(plan.missingPaths))},
        {QStringLiteral("protectedPaths"), QJsonArray::fromStringList(platform::toStrings(plan.protectedPaths))},
        {QStringLiteral("sizes"), sizes},
        {QStringLiteral("uninstallFiles"), QJsonArray::fromVariantList(plan.uninstallFilesNodes())},
        // Paths are shown as the receipts spell them; scripts that compare
        // them must fold them as the volume does.
        {QStringLiteral("caseInsensitiveVolume"), platform::Volume::current()->isCaseInsensitive()},
    };
}

// The uninstall sheet's tree as text, then the folders, which the sheet
// does not show, and the exact byte counts behind the headings' megabytes.
void printSections(const QList<PlanSection> &sections)
{
    QTextStream out(stdout);
    for (const PlanSection &section : sections) {
        out << section.name << '\n';
        for (const QString &child : section.children)
            out << "    " << child << '\n';
    }
}

void printPlan(const UninstallPlan &plan)
{
    printSections(plan.uninstallFiles);
    if (!plan.removeFolders.isEmpty()) {
        printSections({{kestrum::makeString("\u2022 Folders that will be removed if they are empty (%lu folders)",
                                            quint64(plan.removeFolders.size())),
                        platform::toStrings(plan.removeFolders)}});
    }
    QTextStream out(stdout);
    out << "Bytes: " << plan.sizes.removeBytes << " to remove, " << plan.sizes.ignoredBytes << " ignored, "
        << plan.sizes.sharedBytes << " shared\n";
}

int runPlanCommand(const QStringList &arguments)
{
    const std::variant<NamedPackages, int> named = namedPackages(arguments, "plan", "Print a JSON object.");
    if (const int *exitCode = std::get_if<int>(&named))
        return *exitCode;
    const NamedPackages &packages = std::get<NamedPackages>(named);

    UninstallChecks checks;
    if (!checks.mayPlan(packages.selection)) {
        std::fprintf(stderr, "dorvane: nothing planned: %s\n", qPrintable(checks.stopReason()));
        return ExitFailure;
    }
    const UninstallPlan plan =
        UninstallPlanner::plan(packages.selection, packages.catalogue, ProtectionStatus::isRootless());
    if (packages.json)
        QTextStream(stdout) << QJsonDocument(planJson(plan)).toJson(QJsonDocument::Indented);
    else
        printPlan(plan);
    return ExitSuccess;
}

} // namespace dorvane
