#include "dorvane/cli/UninstallCommand.h"

#include "dorvane/ProtectionStatus.h"
#include "dorvane/cli/ExitCode.h"
#include "dorvane/cli/HelperSession.h"
#include "dorvane/cli/ListedPackages.h"
#include "dorvane/cli/PlanCommand.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/uninstall/ReceiptForgetting.h"
#include "dorvane/uninstall/UninstallRun.h"
#include "kestrum/Alert.h"
#include "kestrum/Format.h"
#include "platform/Volume.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace dorvane {

namespace {

// What the run asked to remove and is still there: the tool reported it
// already, this is the account a script can act on.
bool isThere(const QString &path)
{
    const std::optional<platform::LogicalPath> logical = platform::volumePath(path);
    return logical && platform::Volume::current()->status(*logical, platform::Follow::NotFinal).has_value();
}

QStringList stillThere(const UninstallOutcome &outcome)
{
    QStringList left;
    for (const QStringList *list :
         {&outcome.removedFiles, &outcome.unremovedFiles, &outcome.removedFolders, &outcome.additional})
        std::copy_if(list->cbegin(), list->cend(), std::back_inserter(left), isThere);
    return left;
}

} // namespace

int runUninstallCommand(const QStringList &arguments)
{
    const std::variant<NamedPackages, int> named =
        namedPackages(arguments, "uninstall", "Print one JSON object: the plan, and what was done.");
    if (const int *exitCode = std::get_if<int>(&named))
        return *exitCode;
    const NamedPackages &packages = std::get<NamedPackages>(named);
    agreeIfAsked(packages.yes);

    UninstallChecks checks;
    if (!checks.mayPlan(packages.selection)) {
        complain(QStringLiteral("nothing removed: ") + checks.stopReason());
        return ExitFailure;
    }
    const UninstallPlan plan =
        UninstallPlanner::plan(packages.selection, packages.catalogue, ProtectionStatus::isRootless());
    QJsonObject json{{QStringLiteral("plan"), planJson(plan)}};
    const auto finish = [&](int exitCode) {
        if (packages.json)
            QTextStream(stdout) << QJsonDocument(json).toJson(QJsonDocument::Indented);
        return exitCode;
    };
    if (!packages.json)
        printPlan(plan);

    const bool confirmed = UninstallRun::confirm(packages.selection);
    json.insert(QStringLiteral("confirmed"), confirmed);
    if (!confirmed) {
        complain(QStringLiteral("nothing removed: the uninstall was not confirmed (--yes confirms it)"));
        return finish(ExitNotConfirmed);
    }
    const std::unique_ptr<DeleteHelper> helper = connectedHelper();
    if (!helper)
        return finish(ExitFailure);

    UninstallRun run(plan, packages.selection, *helper);
    const UninstallOutcome outcome = run.execute([](const QString &detail) { complain(detail); });
    const QStringList left = stillThere(outcome);
    json.insert(QStringLiteral("removedFiles"), QJsonArray::fromStringList(outcome.removedFiles));
    json.insert(QStringLiteral("removedFolders"), QJsonArray::fromStringList(outcome.removedFolders));
    json.insert(QStringLiteral("removedAdditional"), QJsonArray::fromStringList(outcome.additional));
    json.insert(QStringLiteral("failed"), QJsonArray::fromStringList(left));
    json.insert(QStringLiteral("receiptsKept"), outcome.receiptsKept);
    json.insert(QStringLiteral("logFile"), outcome.logFile.isEmpty() ? QJsonValue() : QJsonValue(outcome.logFile));
    // What the quarantine keeps, for `dorvane undo`; null when nothing is kept.
    json.insert(QStringLiteral("quarantine"),
                outcome.run.isEmpty()
                    ? QJsonValue()
                    : QJsonObject{{QStringLiteral("run"), outcome.run},
                                  {QStringLiteral("keptUntil"), outcome.keptUntil.toString(Qt::ISODate)},
                                  {QStringLiteral("items"), outcome.keptItems},
                                  {QStringLiteral("bytes"), outcome.keptBytes},
                                  {QStringLiteral("removedForGood"), QJsonArray::fromStringList(outcome.removedForGood)}});
    if (!outcome.logError.isEmpty()) {
        json.insert(QStringLiteral("logError"), outcome.logError);
        complain(QStringLiteral("the uninstall log could not be written: ") + outcome.logError);
    }
    if (!packages.json) {
        printSections(outcome.successSections()
                      << PlanSection{kestrum::makeString("Still there (%li)", qint64(left.size())), left});
        QTextStream(stdout) << "Log: " << (outcome.logError.isEmpty() ? outcome.logFile : QStringLiteral("not written"))
                            << '\n';
        if (!outcome.run.isEmpty())
            QTextStream(stdout) << outcome.keptText() << '\n';
    }
    return finish(left.isEmpty() ? ExitSuccess : ExitSomeFailed);
}

int runForgetCommand(const QStringList &arguments)
{
    const std::variant<NamedPackages, int> named = namedPackages(arguments, "forget", "Print a JSON array of the forgotten identifiers.");
    if (const int *exitCode = std::get_if<int>(&named))
        return *exitCode;
    const NamedPackages &packages = std::get<NamedPackages>(named);
    agreeIfAsked(packages.yes);

    UninstallChecks checks;
    if (!checks.mayForget(packages.selection)) {
        complain(QStringLiteral("nothing forgotten: ") + checks.stopReason());
        return ExitFailure;
    }
    QStringList identifiers;
    for (const PackageRecord &package : packages.selection)
        identifiers.append(package.packageIdentifier());
    const int answer = kestrum::alert(
        QStringLiteral("Warning"),
        kestrum::makeString("Do you really want to forget the receipt(s) of %@? The files the package(s) installed "
                            "stay where they are, but Dorvane will no longer list or remove them.",
                            identifiers.join(QStringLiteral(", "))),
        QStringLiteral("Forget"), QStringLiteral("Cancel"));
    if (answer != 1000) {
        complain(QStringLiteral("nothing forgotten: not confirmed (--yes confirms it)"));
        return ExitNotConfirmed;
    }
    const std::unique_ptr<DeleteHelper> helper = connectedHelper();
    if (!helper)
        return ExitFailure;
    QStringList forgotten;
    for (const PackageRecord &package : packages.selection) {
        // A receipt the tool did not forget has ended the process.
        ReceiptForgetting::forget(package, identifiers, *helper);
        if (!isThere(package.bomPath())) {
            forgotten.append(package.packageIdentifier());
            if (!packages.json)
                std::printf("Forgot package '%s' on '/'.\n", qPrintable(package.packageIdentifier()));
        }
    }
    if (packages.json)
        QTextStream(stdout) << QJsonDocument(QJsonArray::fromStringList(forgotten)).toJson(QJsonDocument::Compact) << '\n';
    return forgotten.size() == identifiers.size() ? ExitSuccess : ExitSomeFailed;
}

} // namespace dorvane
