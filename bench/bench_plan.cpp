// Plans the uninstall of one package of 200,000 paths on a generated volume
// and reports how long the planner takes, with and without a progress
// callback, against a per-path loop over the library's own file questions.
//
//   bench_plan [paths]   default: 200000
//
// The volume is written first (every listed file is on disk, sparse), then
// scanned as the application does; only the planning is timed. Each figure
// is the median of five runs on a warm disk cache.

#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/planning/PathProbe.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "kestrum/FileSystem.h"
#include "platform/Volume.h"

#include "VolumeGenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const QString kIdentifier = QStringLiteral("com.example.bench.Huge");

// A vendor folder three levels deep, files spread evenly over the leaf
// folders and listed folder by folder, as bills list them; one file in a
// hundred is a link and one in a hundred is gone.
volumegen::Package hugePackage(qint64 paths)
{
    volumegen::Package package;
    package.identifier = kIdentifier;
    const QString base = QStringLiteral("Library/Application Support/BenchVendor");
    QStringList leaves;
    package.paths << volumegen::PathItem::folder(base);
    for (int a = 0; a < 20; ++a) {
        const QString first = base + QStringLiteral("/group%1").arg(a, 2, 10, QLatin1Char('0'));
        package.paths << volumegen::PathItem::folder(first);
        for (int b = 0; b < 10; ++b) {
            const QString second = first + QStringLiteral("/set%1").arg(b);
            package.paths << volumegen::PathItem::folder(second);
            for (int c = 0; c < 10; ++c) {
                const QString third = second + QStringLiteral("/part%1").arg(c);
                package.paths << volumegen::PathItem::folder(third);
                leaves << third;
            }
        }
    }
    // The builder adds "Library" and "Library/Application Support".
    const qint64 files = paths - package.paths.size() - 2;
    for (qint64 i = 0; i < files; ++i) {
        const QString path = leaves.at(i * leaves.size() / files) + QStringLiteral("/item%1.dat").arg(i);
        if (i % 100 == 7) {
            package.paths << volumegen::PathItem::link(path, QStringLiteral("item0.dat"));
        } else {
            volumegen::PathItem item = volumegen::PathItem::file(path, 1000 + quint64(i % 5000));
            item.onDisk = i % 100 != 13;
            package.paths << item;
        }
    }
    return package;
}

double medianMs(const std::function<void()> &work, int runs = 5)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times << timer.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times.at(runs / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 paths = app.arguments().size() > 1 ? app.arguments().at(1).toLongLong() : 200000;

    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/volume");
    QElapsedTimer timer;
    timer.start();
    volumegen::VolumeBuilder builder(root, QStringLiteral("/Users/demo"));
    builder.addStandardFolders();
    builder.addReceipt(hugePackage(paths));
    QString error;
    if (!builder.write(&error)) {
        std::fprintf(stderr, "cannot build the volume: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("volume: %lld listed paths, %lld files made, built in %.1f s\n", builder.stats().listedPaths,
                builder.stats().filesCreated, timer.elapsed() / 1000.0);

    platform::Volume::configure(root, QStringLiteral("/Users/demo"));
    dorvane::StartUp::registerDefaults();
    timer.restart();
    const std::optional<dorvane::Catalogue> catalogue = dorvane::CatalogueScanner::scan(QStringLiteral("minus.png"));
    if (!catalogue || catalogue->installerPackages.size() != 1) {
        std::fprintf(stderr, "the scan did not find the package\n");
        return 1;
    }
    const QStringList listed = catalogue->filesForPackage(kIdentifier);
    std::printf("scan: %lld paths of %s in %lld ms\n", qint64(listed.size()), qPrintable(kIdentifier),
                timer.elapsed());

    const QList<dorvane::PackageRecord> selection = catalogue->installerPackages;
    dorvane::UninstallPlan plan;
    const double quiet = medianMs([&] { plan = dorvane::UninstallPlanner::plan(selection, *catalogue, true); });
    qint64 lines = 0;
    const double withProgress = medianMs([&] {
        lines = 0;
        plan = dorvane::UninstallPlanner::plan(selection, *catalogue, true,
                                               [&lines](const QString &detail) { lines += detail.size() > 0; });
    });
    const double unprotected = medianMs([&] { dorvane::UninstallPlanner::plan(selection, *catalogue, false); });

    std::printf("plan: %lld files (%.1f MB), %lld folders, %lld already gone, %lld ignored, %lld shared, "
                "%lld protected; %lld progress lines\n",
                qint64(plan.removeFiles.size()), plan.sizes.removeBytes / 1048576.0, qint64(plan.removeFolders.size()),
                qint64(plan.missingPaths.size()), qint64(plan.ignoredFiles.size()), qint64(plan.sharedFiles.size()),
                qint64(plan.protectedPaths.size()), lines);
    std::printf("planning (median of 5): %.0f ms without progress, %.0f ms with a progress callback, "
                "%.0f ms with System Integrity Protection off\n",
                quiet, withProgress, unprotected);

    // Where the time goes: the probe's lstat alone, the flag read, and the
    // same questions asked path by path through the library.
    const double probeOnly = medianMs([&] {
        dorvane::PathProbe probe;
        for (const QString &path : listed)
            probe.look(path);
    });
    const double probeAndFlags = medianMs([&] {
        dorvane::PathProbe probe;
        for (const QString &path : listed)
            dorvane::PathProbe::isRestricted(probe.look(path));
    });
    const double library = medianMs(
        [&] {
            for (const QString &path : listed) {
                if (kestrum::fileExists(path))
                    kestrum::fileIsRestricted(path);
            }
        },
        3);
    std::printf("per path: probe %.0f ms, probe + restricted flag %.0f ms; "
                "kestrum::fileExists + fileIsRestricted %.0f ms\n",
                probeOnly, probeAndFlags, library);

    // The probe is only a faster way to the door's answers.
    qint64 disagreements = 0;
    dorvane::PathProbe probe;
    for (const QString &path : listed) {
        const dorvane::PathProbe::Item item = probe.look(path);
        const std::optional<platform::LogicalPath> logical = platform::volumePath(path);
        const std::optional<platform::ItemStatus> attributes =
            logical ? platform::Volume::current()->status(*logical, platform::Follow::NotFinal) : std::nullopt;
        using Kind = dorvane::PathProbe::Item::Kind;
        const Kind expected = !attributes                  ? Kind::Missing
                              : attributes->isDirectory() ? Kind::Folder
                              : attributes->isLink()      ? Kind::Link
                                                          : Kind::File;
        if (item.kind != expected || item.size != (attributes ? attributes->size : 0)
            || dorvane::PathProbe::isRestricted(item) != kestrum::fileIsRestricted(path))
            ++disagreements;
    }
    std::printf("probe and library disagree on %lld of %lld paths\n", disagreements, qint64(listed.size()));

    platform::Volume::configure(QString(), QString());
    volumegen::removeVolume(root);
    return 0;
}
