// Writes bills of materials totalling 500,000 paths with BomWriter, then
// reads them all back with BomReader (paths only) and prints entries per
// second and peak memory: as strings, the listing kept or dropped, and as the
// raw bytes the scan takes, with no string per path.
//
//   bench_bom [total paths] [bills]      defaults: 500000 400
//
// Beside them: the bytes read a second time in memory the process already
// has, the floor of loading the bills and the reader's tables with no
// parse, and the listings' strings made with no reader. A second round does
// the same with one bill holding every path, and the last line sets the two
// rounds against each other. Each reading is the median of five, each in a
// fresh process of its own, so that its peak resident memory (VmHWM) is its
// own and not what an earlier phase left behind. Bills are read from the
// page cache: this measures parsing, not the disk.

#include "platform/Memory.h"
#include "platform/bom/BomReader.h"
#include "platform/bom/BomWriter.h"

#include "ProcessFigures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

using platform::BomEntry;
using platform::BomReader;
using platform::BomWriter;

namespace {

// A package-like tree of `count` paths: an application with Contents, MacOS
// and Resources holding localisation folders, names of ordinary length.
void fillBill(BomWriter &writer, int bill, int count)
{
    BomEntry e;
    int made = 0;
    auto add = [&](const QString &path, BomEntry::Type type) {
        e.path = path;
        e.type = type;
        e.mode = type == BomEntry::Type::Directory ? 040755 : 0100644;
        e.size = quint64(made) * 37 % 100000;
        e.checksum = quint32(made) * 2654435761u;
        e.mtime = 1700000000 + quint32(made);
        writer.addEntry(e);
        ++made;
    };
    const QString app = QStringLiteral("Applications/Example Application %1.app").arg(bill);
    const QString resources = app + QStringLiteral("/Contents/Resources");
    add(QStringLiteral("Applications"), BomEntry::Type::Directory);
    add(app, BomEntry::Type::Directory);
    add(app + QStringLiteral("/Contents"), BomEntry::Type::Directory);
    add(app + QStringLiteral("/Contents/Info.plist"), BomEntry::Type::File);
    add(app + QStringLiteral("/Contents/MacOS"), BomEntry::Type::Directory);
    add(app + QStringLiteral("/Contents/MacOS/Example"), BomEntry::Type::File);
    add(resources, BomEntry::Type::Directory);
    for (int folder = 0; made < count; ++folder) {
        const QString lproj = resources + QStringLiteral("/Localisation%1.lproj").arg(folder, 3, 10, QLatin1Char('0'));
        add(lproj, BomEntry::Type::Directory);
        for (int i = 0; i < 40 && made < count; ++i)
            add(lproj + QStringLiteral("/Localizable strings file %1.strings").arg(i), BomEntry::Type::File);
    }
}

QStringList billFiles(const QString &folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.bom")}, QDir::Files, QDir::Name))
        files.append(dir.filePath(name));
    return files;
}

// One phase, printed as "entries seconds cpuSeconds peakMiB bytes" for the driver.
int phase(const QString &which, const QString &folder, qint64 totalPaths, int bills)
{
    qint64 entries = 0;
    qint64 bytes = 0;
    QElapsedTimer timer;
    double cpuStart = 0;
    if (which == QLatin1String("write")) {
        timer.start();
        cpuStart = cpuSeconds();
        for (int b = 0; b < bills; ++b) {
            const int count = int(totalPaths / bills + (b < totalPaths % bills ? 1 : 0));
            BomWriter writer;
            fillBill(writer, b, count);
            const QString file = QDir(folder).filePath(QStringLiteral("bill%1.bom").arg(b, 5, 10, QLatin1Char('0')));
            QString error;
            if (!writer.write(file, &error)) {
                std::fprintf(stderr, "write failed: %s\n", qPrintable(error));
                return 1;
            }
            entries += writer.count();
        }
    } else if (which == QLatin1String("load")) {
        // The floor of any reading: each bill's bytes into memory, as the
        // reader takes them, and room as large as the reader's tables for its
        // paths (an entry and a listing slot, 32 bytes a path) written once;
        // nothing parsed.
        const QStringList files = billFiles(folder);
        timer.start();
        cpuStart = cpuSeconds();
        for (const QString &file : files) {
            QFile in(file);
            QByteArray data = platform::fileBuffer(in.size());
            data.resize(in.size());
            if (!in.open(QIODevice::ReadOnly) || in.read(data.data(), data.size()) != data.size())
                return 1;
            const size_t tableBytes = size_t(totalPaths / bills + 1) * 32;
            std::vector<char, platform::LargeBlockAllocator<char>> tables(tableBytes);
            // Kept, as if read: the compiler may not drop the writing.
            asm volatile("" : : "r"(tables.data()) : "memory");
        }
    } else if (which == QLatin1String("bytes") || which == QLatin1String("warm")) {
        const QStringList files = billFiles(folder);
        const auto readAll = [&files] {
            for (const QString &file : files)
                BomReader::open(file).forEachPath([](QByteArrayView) {});
        };
        if (which == QLatin1String("warm")) {
            // Every block stays with the process and the second reading
            // reuses the first one's memory: no fresh page is zeroed.
            mallopt(M_MMAP_THRESHOLD, 1 << 30);
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
            readAll();
        }
        timer.start();
        cpuStart = cpuSeconds();
        qint64 pathBytes = 0;
        for (const QString &file : files) {
            const BomReader reader = BomReader::open(file);
            if (!reader.isValid()) {
                std::fprintf(stderr, "read failed: %s: %s\n", qPrintable(file), qPrintable(reader.errorString()));
                return 1;
            }
            reader.forEachPath([&](QByteArrayView path) {
                ++entries;
                pathBytes += path.size();
            });
        }
        if (pathBytes == 0)
            return 1;
    } else if (which == QLatin1String("strings")) {
        // The floor of "drop" with no reader at all: each bill's path bytes,
        // gathered beforehand, made into one list of strings and let go, as
        // paths() makes it. What a single list of every path costs here is
        // the strings' own price, not the parse's. Its peak counts the
        // gathered bytes too, so only its time compares.
        const QStringList files = billFiles(folder);
        std::vector<std::vector<QByteArray>> perBill;
        for (const QString &file : files) {
            std::vector<QByteArray> &paths = perBill.emplace_back();
            BomReader::open(file).forEachPath([&](QByteArrayView path) { paths.emplace_back(path.toByteArray()); });
        }
        timer.start();
        cpuStart = cpuSeconds();
        for (const std::vector<QByteArray> &paths : perBill) {
            QStringList listing;
            listing.reserve(qsizetype(paths.size()));
            for (const QByteArray &path : paths)
                listing.append(QString::fromUtf8(path));
            entries += listing.size();
        }
    } else {
        // "keep" holds every listing as strings; "drop" lets each go at once,
        // leaving the reader's own share and the strings' making.
        const bool keep = which == QLatin1String("keep");
        const QStringList files = billFiles(folder);
        QList<QStringList> listings;
        listings.reserve(files.size());
        timer.start();
        cpuStart = cpuSeconds();
        for (const QString &file : files) {
            const BomReader reader = BomReader::open(file);
            if (!reader.isValid()) {
                std::fprintf(stderr, "read failed: %s: %s\n", qPrintable(file), qPrintable(reader.errorString()));
                return 1;
            }
            const QStringList paths = reader.paths();
            entries += paths.size();
            if (keep)
                listings.append(paths);
        }
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    for (const QString &file : billFiles(folder))
        bytes += QFileInfo(file).size();
    std::printf("%lld %.6f %.6f %.1f %lld\n", static_cast<long long>(entries), seconds, cpu, peakMiB(),
                static_cast<long long>(bytes));
    return 0;
}

bool runPhase(const QString &which, const QString &folder, qint64 total, int bills, QStringList *figures)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--phase"), which, folder, QString::number(total), QString::number(bills)});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return false;
    *figures = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    return figures->size() == 5;
}

// Each phase's seconds, by name; nothing when a phase failed.
std::optional<QHash<QString, double>> scenario(qint64 total, int bills)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    QHash<QString, double> times;
    std::printf("%d bill(s), %lld paths in all\n", bills, static_cast<long long>(total));
    const struct
    {
        const char *which;
        const char *label;
    } phases[] = {{"write", "write"},
                  {"keep", "read, paths only, every listing kept"},
                  {"drop", "read, paths only, each listing dropped"},
                  {"strings", "the same strings made, no reader"},
                  {"bytes", "read, path bytes only, as the scan does"},
                  {"warm", "the same, a second time in reused memory"},
                  {"load", "the bills and the reader's tables, no parse"}};
    for (const auto &p : phases) {
        // Fresh pages cost a virtual machine twice as much in one run as in
        // the next: each reading is the median of five runs.
        const int rounds = qstrcmp(p.which, "write") == 0 ? 1 : 5;
        QList<QStringList> runs;
        for (int round = 0; round < rounds; ++round) {
            QStringList figures;
            if (!runPhase(QLatin1String(p.which), dir.path(), total, bills, &figures))
                return std::nullopt;
            runs.append(figures);
        }
        std::sort(runs.begin(), runs.end(),
                  [](const QStringList &a, const QStringList &b) { return a[1].toDouble() < b[1].toDouble(); });
        const QStringList &f = runs.at(runs.size() / 2);
        const double entries = f[0].toDouble();
        const double seconds = f[1].toDouble();
        const double cpu = f[2].toDouble();
        std::printf("  %-40s %7.3f s (cpu %.3f s) %9.0f entries/s   peak %6.1f MiB   (%.1f MiB of bills)\n",
                    p.label, seconds, cpu, entries / seconds, f[3].toDouble(), f[4].toDouble() / 1048576.0);
        times.insert(QLatin1String(p.which), seconds);
    }
    return times;
}

} // namespace

int main(int argc, char **argv)
{
    platform::keepFreedMemoryForReuse();   // as the programs do
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("--phase"))
        return phase(args[2], args[3], args[4].toLongLong(), args[5].toInt());

    const qint64 total = args.size() > 1 ? args[1].toLongLong() : 500000;
    const int bills = args.size() > 2 ? args[2].toInt() : 400;
    if (total <= 0 || bills <= 0) {
        std::fprintf(stderr, "usage: bench_bom [total paths] [bills]\n");
        return 2;
    }
    const std::optional<QHash<QString, double>> many = scenario(total, bills);
    const std::optional<QHash<QString, double>> one = many ? scenario(total, 1) : std::nullopt;
    if (!one) {
        std::fprintf(stderr, "a phase failed\n");
        return 1;
    }
    // What one bill costs against the same paths in many: whole, with each
    // side's load floor taken off, and read in reused memory.
    const auto ratio = [&](const char *which, bool lessLoad) {
        const double offOne = lessLoad ? one->value("load") : 0;
        const double offMany = lessLoad ? many->value("load") : 0;
        const double oneLeft = one->value(QLatin1String(which)) - offOne;
        const double manyLeft = many->value(QLatin1String(which)) - offMany;
        // Small bills can read faster than the floor's own noise.
        return oneLeft > 0 && manyLeft > 0 ? QByteArray::number(oneLeft / manyLeft, 'f', 2) + 'x'
                                           : QByteArray("(below the load's noise)");
    };
    std::printf("one bill against %d: listing dropped %s (its strings alone, no reader: %s); path bytes %s, "
                "and %s less the load; path bytes in reused memory %s\n",
                bills, ratio("drop", false).constData(), ratio("strings", false).constData(),
                ratio("bytes", false).constData(),
                ratio("bytes", true).constData(), ratio("warm", false).constData());
    return 0;
}
