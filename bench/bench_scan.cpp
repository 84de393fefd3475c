// Scans a large generated volume as the application does at start-up and
// reports the time until the catalogue is handed over, the time until the
// last package has its size, and the peak memory against the bytes of the
// listed paths themselves.
//
//   bench_scan [packages] [paths] [files: all|none|sample]   defaults: 400 500000 all
//
// The volume is built first, in a fresh temporary folder, by a child run of
// this program, so that the scan's peak memory is its own.

#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/PackageSize.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"

#include "VolumeGenerator.h"

#include "PeakMemory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

// CPU seconds of this process, every thread counted: unlike the wall clock,
// not inflated when other work shares the machine.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
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
        const QStringList files = catalogue->filesForPackage(record.packageIdentifier());
        record.setInstallBytes(dorvane::PackageSize::bytes(record, files));
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

// The command line's whole list, sizes included, beside du -sb of the same
// volume, alternated three times so that both see the same cache and load.
void compareWithDu(const QString &root)
{
    const auto timed = [](const QString &program, const QStringList &arguments) {
        QProcess child;
        child.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        child.start(program, arguments);
        child.waitForFinished(-1);
        return child.exitCode() == 0 ? timer.elapsed() : qint64(-1);
    };
    qint64 bestList = -1;
    qint64 bestDu = -1;
    for (int round = 0; round < 3; ++round) {
        const qint64 list = timed(QStringLiteral(DORVANE_CLI), {"--root", root, "--home", "/Users/demo", "list", "--json"});
        const qint64 du = timed(QStringLiteral("du"), {"-sb", root});
        bestList = bestList < 0 || (list >= 0 && list < bestList) ? list : bestList;
        bestDu = bestDu < 0 || (du >= 0 && du < bestDu) ? du : bestDu;
    }
    std::printf("dorvane list --json: %lld ms; du -sb: %lld ms (best of three each); ratio %.2f\n", bestList, bestDu,
                bestDu > 0 ? double(bestList) / double(bestDu) : 0.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--build"))
        return build(args.value(2), args.value(3).toInt(), args.value(4).toLongLong(), args.value(5));
    if (args.value(1) == QLatin1String("--scan"))
        return scan(args.value(2));

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
    compareWithDu(root);
    volumegen::removeVolume(root);
    return 0;
}
