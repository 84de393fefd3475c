// mkvolume: builds a Mac-like volume in a folder, the same for the same seed.
//
//   mkvolume [--seed N] [--large] [--packages N] [--paths N]
//            [--files all|none|sample] [--protect] [--clean] [--home DIR] DIR

#include "VolumeGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "mkvolume: " << message << Qt::endl;
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mkvolume"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Builds a Mac-like volume (receipts, bills of materials, "
                                                    "applications and their files) in a folder."));
    parser.addHelpOption();
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of sizes, dates and names (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption large(QStringLiteral("large"), QStringLiteral("Build the large volume instead of the demo."));
    const QCommandLineOption packages(QStringLiteral("packages"), QStringLiteral("Large volume: receipts (default 400)."),
                                      QStringLiteral("N"), QStringLiteral("400"));
    const QCommandLineOption paths(QStringLiteral("paths"), QStringLiteral("Large volume: listed paths in all (default 500000)."),
                                   QStringLiteral("N"), QStringLiteral("500000"));
    const QCommandLineOption files(QStringLiteral("files"),
                                   QStringLiteral("Large volume: listed files made on disk, all, none or sample "
                                                  "(one in ten; default all)."),
                                   QStringLiteral("MODE"), QStringLiteral("all"));
    const QCommandLineOption protect(QStringLiteral("protect"),
                                     QStringLiteral("Set the immutable flag on the demo's protected items (needs root)."));
    const QCommandLineOption clean(QStringLiteral("clean"), QStringLiteral("Remove the volume already at DIR first."));
    const QCommandLineOption remove(QStringLiteral("remove"),
                                    QStringLiteral("Only remove the volume at DIR (protected items included)."));
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Logical home folder (default /Users/demo)."),
                                  QStringLiteral("DIR"), QStringLiteral("/Users/demo"));
    parser.addOptions({seed, large, packages, paths, files, protect, clean, remove, home});
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The folder that stands for the volume's \"/\"."));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return fail(QStringLiteral("name exactly one folder (see --help)"));
    const QString root = QDir(positional.first()).absolutePath();
    if (parser.isSet(remove)) {
        QString error;
        return volumegen::removeVolume(root, &error) ? 0 : fail(error);
    }

    bool ok = true;
    volumegen::LargeVolumeOptions options;
    options.seed = parser.value(seed).toUInt(&ok);
    if (!ok)
        return fail(QStringLiteral("--seed takes a number from 0 to 4294967295"));
    options.packages = parser.value(packages).toInt(&ok);
    if (!ok || options.packages < 1)
        return fail(QStringLiteral("--packages takes a positive number"));
    options.paths = parser.value(paths).toLongLong(&ok);
    if (!ok || options.paths < 0)
        return fail(QStringLiteral("--paths takes a number of 0 or more"));
    const QString mode = parser.value(files);
    if (mode == QLatin1String("all"))
        options.files = volumegen::FilesOnDisk::All;
    else if (mode == QLatin1String("none"))
        options.files = volumegen::FilesOnDisk::None;
    else if (mode == QLatin1String("sample"))
        options.files = volumegen::FilesOnDisk::Sample;
    else
        return fail(QStringLiteral("--files takes all, none or sample"));
    options.protect = parser.isSet(protect);
    options.home = parser.value(home);
    if (!options.home.startsWith(QLatin1Char('/')))
        return fail(QStringLiteral("--home takes a logical path beginning with /"));

    QElapsedTimer timer;
    timer.start();
    QString error;
    QString cleanText;
    if (parser.isSet(clean)) {
        if (!volumegen::removeVolume(root, &error))
            return fail(error);
        cleanText = QStringLiteral(" (after %1 s removing the old one)").arg(double(timer.restart()) / 1000.0, 0, 'f', 2);
    } else if (!QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        return fail(QStringLiteral("%1 is not empty; --clean replaces a volume made before").arg(root));
    }

    volumegen::VolumeStats stats;
    const bool built = parser.isSet(large) ? volumegen::buildLargeVolume(root, options, &stats, &error)
                                           : volumegen::buildDemoVolume(root, options, &stats, &error);
    if (!built)
        return fail(error);

    QString protectedText;
    if (options.protect && !parser.isSet(large))
        protectedText = QStringLiteral(", %1 of %2 items protected").arg(stats.protectedPaths.size())
                            .arg(volumegen::demoProtectedPaths().size());
    QTextStream(stdout) << QStringLiteral("mkvolume: %1 volume at %2: %3 packages, %4 listed paths (%5 MB listed), "
                                          "%6 files and %7 folders made%8, %9 s%10")
                               .arg(parser.isSet(large) ? QStringLiteral("large") : QStringLiteral("demo"), root)
                               .arg(stats.receipts)
                               .arg(stats.listedPaths)
                               .arg(double(stats.listedBytes) / 1048576.0, 0, 'f', 1)
                               .arg(stats.filesCreated)
                               .arg(stats.foldersCreated)
                               .arg(protectedText)
                               .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 2)
                               .arg(cleanText)
                        << Qt::endl;
    return 0;
}
