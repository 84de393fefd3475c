// Scans a large generated volume as the application does at start-up and
// reports the time until the catalogue is handed over, the time until the
// last package has its size, and the peak memory against the bytes of the
// listed paths themselves.
//
//   bench_scan [packages] [paths] [files: all|none|sample]   defaults: 400 500000 all
//   bench_scan --build|--scan|--compare ROOT ...   one step on a volume kept by hand
//
// The volume is built first, in a fresh temporary folder, by a child run of
// this program, so that the scan's peak memory is its own.

#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/PackageSize.h"
#include "platform/Memory.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"

#include "VolumeGenerator.h"

#include "ProcessFigures.h"
#include "StatxFloor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

int build(const QString &root, int packages, qint64 paths, const QString &files)
{
    volumegen::LargeVolumeOptions options;
    options.packages = packages;
    options.paths = paths;
    options.files = files == QLatin1String("none")     ? volumegen::FilesOnDisk::None
                    : files == QLatin1String("sample") ? volumegen::FilesOnDisk::Sample
                                                       : volumegen::FilesOnDisk::All;
    QElapsedTimer timer;
    timer.start();
    volumegen::VolumeStats stats;
    QString error;
    if (!volumegen::buildLargeVolume(root, options, &stats, &error)) {
        std::fprintf(stderr, "cannot build the volume: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("volume: %d receipts, %lld listed paths, %lld files made, built in %.1f s\n", stats.receipts,
                stats.listedPaths, stats.filesCreated, timer.elapsed() / 1000.0);
    return 0;
}

int scan(const QString &root)
{
    platform::Volume::configure(root, QStringLiteral("/Users/demo"));
    dorvane::StartUp::registerDefaults();
    const double before = peakMiB();

    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuSeconds();
    std::optional<dorvane::Catalogue> catalogue = dorvane::CatalogueScanner::scan(QStringLiteral("minus.png"));
    const qint64 handOver = timer.elapsed();
    const double handOverCpu = cpuSeconds() - cpuStart;
    if (!catalogue) {
        std::fprintf(stderr, "no receipts\n");
        return 1;
    }
    const double peakAtHandOver = peakMiB();

    const qint64 pathBytes = qint64(catalogue->paths().textBytes());

    for (const dorvane::PackageRecord &record : catalogue->installerPackages) {
        record.setInstallBytes(dorvane::PackageSize::bytes(record, *catalogue));
    }
    const qint64 lastSize = timer.elapsed();

    std::printf("packages: %lld listed, %lld kept out; distinct paths: %lld (%.1f MiB as UTF-8)\n",
                qint64(catalogue->installerPackages.size()), qint64(catalogue->allPackages.size()),
                qint64(catalogue->paths().count()), pathBytes / 1048576.0);
    std::printf("hand-over after %lld ms (cpu %.0f ms, all threads); last size after %lld ms\n", handOver,
                handOverCpu * 1000.0, lastSize);
    std::printf("peak memory: %.1f MiB before the scan, %.1f MiB at hand-over, %.1f MiB at the end\n", before,
                peakAtHandOver, peakMiB());
    return 0;
}

// What no size pass can beat: one statx per listed path of the listed
// packages, split by folder over the cores, with nothing else; the scan that
// finds the paths is not timed. Prints its milliseconds, then those of the
// same beside a second scan.
int statxFloor(const QString &root)
{
    platform::Volume::configure(root, QStringLiteral("/Users/demo"));
    dorvane::StartUp::registerDefaults();
    const std::optional<dorvane::Catalogue> catalogue = dorvane::CatalogueScanner::scan(QStringLiteral("minus.png"));
    if (!catalogue)
        return 1;
    QStringList listed;
    for (const dorvane::PackageRecord &record : catalogue->installerPackages)
        listed += catalogue->filesForPackage(record.packageIdentifier());
    const std::vector<RawPath> raw = rawPaths(root, listed);
    QElapsedTimer timer;
    timer.start();
    if (statxThreads(raw, QThread::idealThreadCount()) == 0)
        return 1;
    const qint64 statxOnly = timer.elapsed();
    // The same beside a second scan, as if every path were known before the
    // scan and no part waited for another.
    timer.restart();
    std::thread scanner([] { dorvane::CatalogueScanner::scan(QStringLiteral("minus.png")); });
    const quint64 bytes = statxThreads(raw, QThread::idealThreadCount());
    scanner.join();
    std::printf("%lld %lld\n", statxOnly, bytes ? timer.elapsed() : -1);
    return 0;
}

double median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.size() % 2 ? double(values.at(values.size() / 2))
                             : (values.at(values.size() / 2 - 1) + values.at(values.size() / 2)) / 2.0;
}

// The command line's whole list, sizes included, beside du -sb of the same
// volume and the statx floor, alternated round by round so that all see the
// same cache and load; each round's ratio is its own.
void compareWithDu(const QString &root, int rounds)
{
    const auto timed = [](const QString &program, const QStringList &arguments, QByteArray *output = nullptr) {
        QProcess child;
        if (!output)
            child.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        child.start(program, arguments);
        child.waitForFinished(-1);
        if (output)
            *output = child.readAllStandardOutput();
        return child.exitCode() == 0 ? timer.elapsed() : qint64(-1);
    };
    QList<qint64> lists, dus, floors, overlaps;
    QList<qint64> listRatios, floorRatios, overlapRatios;   // in hundredths
    std::printf("rounds, ms (list / du -sb / statx floor over %d cores / the same beside a scan):",
                QThread::idealThreadCount());
    for (int round = 0; round < rounds; ++round) {
        const qint64 list = timed(QStringLiteral(DORVANE_CLI), {"--root", root, "--home", "/Users/demo", "list", "--json"});
        const qint64 du = timed(QStringLiteral("du"), {"-sb", root});
        QByteArray floorText;
        timed(QCoreApplication::applicationFilePath(), {"--floor", root}, &floorText);
        const QList<QByteArray> floorFigures = floorText.simplified().split(' ');
        const qint64 floor = floorFigures.value(0).toLongLong();
        const qint64 overlap = floorFigures.value(1).toLongLong();
        if (list < 0 || du <= 0 || floor <= 0 || overlap <= 0) {
            std::printf(" (a contender failed)");
            continue;
        }
        std::printf(" %lld/%lld/%lld/%lld", list, du, floor, overlap);
        lists << list;
        dus << du;
        floors << floor;
        overlaps << overlap;
        overlapRatios << overlap * 100 / du;
        listRatios << list * 100 / du;
        floorRatios << floor * 100 / du;
    }
    std::printf("\n");
    if (lists.isEmpty())
        return;
    std::printf("median: dorvane list --json %.0f ms, du -sb %.0f ms, statx floor %.0f ms, beside a scan %.0f ms\n"
                "ratios to du (medians of the rounds' own): list %.2f, statx floor %.2f, beside a scan %.2f\n",
                median(lists), median(dus), median(floors), median(overlaps), median(listRatios) / 100.0,
                median(floorRatios) / 100.0, median(overlapRatios) / 100.0);
}

} // namespace

int main(int argc, char *argv[])
{
    platform::keepFreedMemoryForReuse();   // as the programs do
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--build"))
        return build(args.value(2), args.value(3).toInt(), args.value(4).toLongLong(), args.value(5));
    if (args.value(1) == QLatin1String("--scan"))
        return scan(args.value(2));
    if (args.value(1) == QLatin1String("--floor"))
        return statxFloor(args.value(2));
    if (args.value(1) == QLatin1String("--compare"))
        return compareWithDu(args.value(2), 5), 0;

    const int packages = args.size() > 1 ? args.value(1).toInt() : 400;
    const qint64 paths = args.size() > 2 ? args.value(2).toLongLong() : 500000;
    const QString files = args.size() > 3 ? args.value(3) : QStringLiteral("all");
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1String("/volume");
    for (const QStringList &step : {QStringList{"--build", root, QString::number(packages), QString::number(paths), files},
                                    QStringList{"--scan", root}}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), step);
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
    }
    compareWithDu(root, 5);
    volumegen::removeVolume(root);
    return 0;
}
