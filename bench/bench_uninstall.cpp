// Uninstalls one package of many files from a generated volume through the
// real helper tool, end to end (plan confirmed, then every stage of the
// run), and removes an equal tree with `rm -rf` in the same run. Prints both
// times, their ratio and each stage's share of the uninstall. What the run
// kept in the quarantine (the setting's default) is then undone, and after a
// second uninstall emptied, each beside an rm -rf of an equal tree.
//
//   bench_uninstall [folders] [files per folder] [rounds]   defaults: 1000 100 3
//
// Runs as root: the helper tool is installed on the volume as a daemon.

#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "dorvane/uninstall/UninstallRun.h"
#include "kestrum/Kestrum.h"
#include "platform/DaemonJob.h"
#include "platform/Volume.h"

#include "VolumeBuilder.h"
#include "VolumeRemoval.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <map>
#include <unistd.h>

using namespace dorvane;

namespace {

const QString kIdentifier = QStringLiteral("com.example.bench.Large");

volumegen::Package largePackage(int folders, int files)
{
    volumegen::Package package;
    package.identifier = kIdentifier;
    for (int d = 0; d < folders; ++d) {
        const QString folder = QStringLiteral("Library/Large/d%1").arg(d);
        package.paths.append(volumegen::PathItem::folder(folder));
        for (int f = 0; f < files; ++f)
            package.paths.append(volumegen::PathItem::file(folder + QStringLiteral("/f%1").arg(f), 0));
    }
    return package;
}

// The stage a progress text opens.
QString stageOf(const QString &detail)
{
    static const std::pair<const char *, const char *> stages[] = {
        {"Quitting app", "applications"},  {"Terminating", "processes"},     {"Deleting files", "files"},
        {"Deleting folder", "folders"},    {"Deleting additional", "additional"}, {"Forgetting", "receipts"},
        {"Writing logfile", "logs"},       {"Removing package info", "catalogue"}};
    for (const auto &[prefix, name] : stages) {
        if (detail.startsWith(QLatin1String(prefix)))
            return QString::fromLatin1(name);
    }
    return detail;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "run as root: the helper tool is installed as a daemon\n");
        return 1;
    }
    const QStringList args = app.arguments();
    const int folders = args.value(1, QStringLiteral("1000")).toInt();
    const int files = args.value(2, QStringLiteral("100")).toInt();
    const int rounds = args.value(3, QStringLiteral("3")).toInt();
    StartUp::registerDefaults();
    // The helper tool is installed from the built bundle.
    if (!qEnvironmentVariableIsSet("DORVANE_BUNDLE_DIR"))
        qputenv("DORVANE_BUNDLE_DIR", DORVANE_BUNDLE_DIR);

    std::printf("%d folders x %d files = %d files per package, %d rounds\n", folders, files, folders * files, rounds);
    QList<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        QTemporaryDir scratch;
        const QString volume = scratch.filePath(QStringLiteral("volume"));
        volumegen::VolumeBuilder builder(volume, QStringLiteral("/Users/bench"));
        builder.addStandardFolders();
        builder.addReceipt(largePackage(folders, files));
        const QString peer = scratch.filePath(QStringLiteral("rm-tree"));
        volumegen::VolumeBuilder peerTree(peer);
        peerTree.addReceipt(largePackage(folders, files));
        QString error;
        if (!builder.write(&error) || !peerTree.write(&error)
            || !platform::Volume::configure(volume, QStringLiteral("/Users/bench"))) {
            std::fprintf(stderr, "cannot make the volumes: %s\n", qPrintable(error));
            return 1;
        }
        static kestrum::Kestrum shared;
        LogFiles::migrateLogfiles();
        if (const std::optional<HelperError> failed = DeleteHelper::blessHelper()) {
            std::fprintf(stderr, "the helper tool was not installed: %s\n", qPrintable(failed->description()));
            return 1;
        }
        const std::optional<Catalogue> catalogue = CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
        if (!catalogue || catalogue->installerPackages.size() != 1) {
            std::fprintf(stderr, "the package was not found\n");
            return 1;
        }
        const QList<PackageRecord> selection = catalogue->installerPackages;
        ::sync();

        QElapsedTimer timer;
        timer.start();
        const UninstallPlan plan = UninstallPlanner::plan(selection, *catalogue, true);
        const qint64 planNs = timer.nsecsElapsed();
        std::map<QString, qint64> stageNs;
        QString stage = QStringLiteral("applications");
        qint64 stageStart = timer.nsecsElapsed();
        DeleteHelper helper;
        const UninstallOutcome outcome = UninstallRun(plan, selection, helper).execute([&](const QString &detail) {
            const QString next = stageOf(detail);
            if (next == stage)
                return;
            stageNs[stage] += timer.nsecsElapsed() - stageStart;
            stage = next;
            stageStart = timer.nsecsElapsed();
        });
        stageNs[stage] += timer.nsecsElapsed() - stageStart;
        const qint64 uninstallNs = timer.nsecsElapsed();

        timer.restart();
        const int rmStatus = QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), peer + QStringLiteral("/Library")});
        const qint64 rmNs = timer.nsecsElapsed();

        const bool gone = !QDir(volume + QStringLiteral("/Library/Large")).exists();
        if (!gone || rmStatus != 0 || outcome.removedFiles.size() != folders * files) {
            platform::DaemonJob::stop(HelperInstaller::places());
            std::fprintf(stderr, "the package was not removed\n");
            return 1;
        }
        ratios.append(double(uninstallNs) / double(rmNs));
        std::printf("round %d: uninstall %.0f ms (plan %.0f ms before it), rm -rf %.0f ms, ratio %.2f\n", round,
                    uninstallNs / 1e6, planNs / 1e6, rmNs / 1e6, ratios.last());
        for (const auto &[name, ns] : stageNs)
            std::printf("    %-12s %7.0f ms  %5.1f %%\n", qPrintable(name), ns / 1e6, 100.0 * ns / (uninstallNs - planNs));
        if (!outcome.run.isEmpty()) {
            // Undo, then a second uninstall whose run is emptied, each beside
            // an rm -rf of its own equal tree.
            const auto beside = [&](const char *name, const std::function<bool()> &step) {
                volumegen::VolumeBuilder tree(peer);
                tree.addReceipt(largePackage(folders, files));
                QString treeError;
                if (!tree.write(&treeError))
                    return false;
                ::sync();
                QElapsedTimer stepTimer;
                stepTimer.start();
                const bool done = step();
                const qint64 stepNs = stepTimer.nsecsElapsed();
                stepTimer.restart();
                const int status = QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), peer + QStringLiteral("/Library")});
                const qint64 peerNs = stepTimer.nsecsElapsed();
                if (!done || status != 0)
                    return false;
                std::printf("    %-6s %7.0f ms, rm -rf %7.0f ms, ratio %.2f\n", name, stepNs / 1e6, peerNs / 1e6,
                            double(stepNs) / double(peerNs));
                return true;
            };
            QString error;
            const bool undone = beside("undo", [&] { return KeptRuns::undo(helper, outcome.run).complete(); });
            const std::optional<Catalogue> again = CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
            const QList<PackageRecord> back = again ? again->installerPackages : QList<PackageRecord>();
            const UninstallOutcome second =
                back.size() == 1 ? UninstallRun(UninstallPlanner::plan(back, *again, true), back, helper).execute([](const QString &) {})
                                 : UninstallOutcome();
            if (!undone || second.run.isEmpty()
                || !beside("empty", [&] { return KeptRuns::empty(helper, second.run, &error); })) {
                std::fprintf(stderr, "the undo or the emptying failed: %s\n", qPrintable(error));
                platform::DaemonJob::stop(HelperInstaller::places());
                return 1;
            }
        }
        platform::DaemonJob::stop(HelperInstaller::places());
        volumegen::removeVolume(volume);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio %.2f (target: at most 3)\n", ratios[ratios.size() / 2]);
    return 0;
}
