// Plans the uninstall of one package of 200,000 paths on a generated volume
// and reports how long the planner takes, with and without a progress
// callback, beside what no planner can beat: a plain statx loop over the
// same paths, on one core and split by folder over all of them, and du -sb
// of the package's folder.
//
//   bench_plan [paths] [rounds]   defaults: 200000 5
//
// The volume is written first (every listed file is on disk, sparse), then
// scanned as the application does; only the planning is timed. Every round
// runs each contender once, side by side, on a warm disk cache, so a busy
// machine slows them alike; each figure is the median of the rounds, with
// the processor time of all its threads (the work, whatever the wait for a
// core) and the fastest and slowest round beside it.

#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/planning/PathProbe.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "kestrum/FileSystem.h"
#include "platform/Memory.h"
#include "platform/Volume.h"

#include "VolumeGenerator.h"

#include "StatxFloor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

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

// The processor time this process and its finished children have used, all
// threads together: on a busy machine the wall clock mostly measures the
// wait for a core, this the work itself.
double cpuMs()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage;
        ::getrusage(who, &usage);
        total += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
                 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    }
    return total;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Contenders timed in rounds: each round runs every one once, in turn.
class Rounds
{
public:
    void add(const char *name, std::function<void()> work) { m_entries.push_back({name, std::move(work), {}, {}}); }
    void run(int rounds)
    {
        for (int round = 0; round < rounds; ++round) {
            for (Entry &entry : m_entries) {
                QElapsedTimer timer;
                const double cpu = cpuMs();
                timer.start();
                entry.work();
                entry.times << timer.nsecsElapsed() / 1e6;
                entry.cpu << cpuMs() - cpu;
            }
        }
    }
    void print() const
    {
        for (const Entry &entry : m_entries) {
            const auto [fastest, slowest] = std::minmax_element(entry.times.cbegin(), entry.times.cend());
            std::printf("  %-46s median %5.0f ms, processor %5.0f ms  (fastest %4.0f, slowest %4.0f; rounds:",
                        entry.name, median(entry.times), median(entry.cpu), *fastest, *slowest);
            for (const double time : entry.times)
                std::printf(" %.0f", time);
            std::printf(")\n");
        }
    }

private:
    struct Entry
    {
        const char *name;
        std::function<void()> work;
        QList<double> times;
        QList<double> cpu;
    };
    std::vector<Entry> m_entries;
};

} // namespace

int main(int argc, char *argv[])
{
    platform::keepFreedMemoryForReuse();   // as the programs do
    QCoreApplication app(argc, argv);
    const qint64 paths = app.arguments().size() > 1 ? app.arguments().at(1).toLongLong() : 200000;
    const int rounds = std::max(1, app.arguments().size() > 2 ? app.arguments().at(2).toInt() : 5);

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
    const std::vector<RawPath> raw = rawPaths(root, listed);
    const int cores = QThread::idealThreadCount();
    const QString vendor = root + QStringLiteral("/Library/Application Support/BenchVendor");

    dorvane::UninstallPlan plan;
    qint64 lines = 0;
    quint64 floorBytes = 0;
    Rounds timed;
    timed.add("plan", [&] { plan = dorvane::UninstallPlanner::plan(selection, *catalogue, true); });
    timed.add("plan with a progress callback", [&] {
        lines = 0;
        plan = dorvane::UninstallPlanner::plan(selection, *catalogue, true,
                                               [&lines](const QString &detail) { lines += detail.size() > 0; });
    });
    timed.add("plan, System Integrity Protection off",
              [&] { dorvane::UninstallPlanner::plan(selection, *catalogue, false); });
    // Where the time goes: the probe's one statx per path on one core, and
    // the restricted flag that comes with it.
    timed.add("probe alone, one core", [&] {
        dorvane::PathProbe probe;
        for (const QString &path : listed)
            probe.look(path);
    });
    timed.add("probe + restricted flag, one core", [&] {
        dorvane::PathProbe probe;
        for (const QString &path : listed)
            dorvane::PathProbe::isRestricted(probe.look(path));
    });
    timed.add("plain statx loop, one core", [&] { floorBytes = statxLoop(raw, 0, raw.size()); });
    const QByteArray split = "plain statx loop, split by folder over " + QByteArray::number(cores) + " cores";
    timed.add(split.constData(), [&] { floorBytes = statxThreads(raw, cores); });
    timed.add("du -sb of the package's folder", [&] {
        QProcess du;
        du.start(QStringLiteral("du"), {QStringLiteral("-sb"), vendor});
        du.waitForFinished(-1);
    });
    timed.run(rounds);

    std::printf("plan: %lld files (%.1f MB), %lld folders, %lld already gone, %lld ignored, %lld shared, "
                "%lld protected; %lld progress lines; the statx loop saw %.1f MB\n",
                qint64(plan.removeFiles.size()), plan.sizes.removeBytes / 1048576.0, qint64(plan.removeFolders.size()),
                qint64(plan.missingPaths.size()), qint64(plan.ignoredFiles.size()), qint64(plan.sharedFiles.size()),
                qint64(plan.protectedPaths.size()), lines, floorBytes / 1048576.0);
    std::printf("%d rounds, side by side, %d cores:\n", rounds, cores);
    timed.print();

    const double library = medianMs(
        [&] {
            for (const QString &path : listed) {
                if (kestrum::fileExists(path))
                    kestrum::fileIsRestricted(path);
            }
        },
        3);
    std::printf("per path through the library: kestrum::fileExists + fileIsRestricted %.0f ms (median of 3)\n",
                library);

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
