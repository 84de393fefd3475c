#include "LargeVolume.h"

#include "BundleLayout.h"
#include "SeededRandom.h"
#include "TreeGrower.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

namespace volumegen {

namespace {

using Flavor = TreeGrower::Flavor;

const QList<QString> kVendorHeads{
    QStringLiteral("Nor"), QStringLiteral("Bel"), QStringLiteral("Cas"), QStringLiteral("Dun"), QStringLiteral("Eld"),
    QStringLiteral("Fen"), QStringLiteral("Gal"), QStringLiteral("Hart"), QStringLiteral("Ist"), QStringLiteral("Jun"),
    QStringLiteral("Kel"), QStringLiteral("Lor"), QStringLiteral("Mar"), QStringLiteral("Nev"), QStringLiteral("Orl"),
    QStringLiteral("Pem"), QStringLiteral("Quen"), QStringLiteral("Ros"), QStringLiteral("Sel"), QStringLiteral("Tav"),
    QStringLiteral("Vel"), QStringLiteral("Wen"), QStringLiteral("Yar"), QStringLiteral("Zel"),
};
const QList<QString> kVendorTails{
    QStringLiteral("wick"), QStringLiteral("mont"), QStringLiteral("ford"), QStringLiteral("vale"), QStringLiteral("brook"),
    QStringLiteral("stone"), QStringLiteral("field"), QStringLiteral("gate"), QStringLiteral("haven"), QStringLiteral("crest"),
    QStringLiteral("mere"), QStringLiteral("wood"), QStringLiteral("ridge"), QStringLiteral("combe"), QStringLiteral("holt"),
};
const QList<QString> kDomains{
    QStringLiteral("com"), QStringLiteral("com"), QStringLiteral("com"), QStringLiteral("org"),
    QStringLiteral("net"), QStringLiteral("io"), QStringLiteral("de"), QStringLiteral("fr"),
};
const QList<QString> kProductHeads{
    QStringLiteral("Amber"), QStringLiteral("Beacon"), QStringLiteral("Cobalt"), QStringLiteral("Delta"),
    QStringLiteral("Ember"), QStringLiteral("Fable"), QStringLiteral("Garnet"), QStringLiteral("Harbor"),
    QStringLiteral("Indigo"), QStringLiteral("Juniper"), QStringLiteral("Kestrel"), QStringLiteral("Lattice"),
    QStringLiteral("Meridian"), QStringLiteral("Nimbus"), QStringLiteral("Onyx"), QStringLiteral("Pillar"),
    QStringLiteral("Quartz"), QStringLiteral("Ripple"), QStringLiteral("Sable"), QStringLiteral("Tundra"),
    QStringLiteral("Umber"), QStringLiteral("Vertex"), QStringLiteral("Willow"), QStringLiteral("Zephyr"),
};
const QList<QString> kProductTails{
    QStringLiteral("Studio"), QStringLiteral("Notes"), QStringLiteral("Sync"), QStringLiteral("Draw"),
    QStringLiteral("Mail"), QStringLiteral("Vault"), QStringLiteral("Reader"), QStringLiteral("Scan"),
    QStringLiteral("Lens"), QStringLiteral("Board"), QStringLiteral("Desk"), QStringLiteral("Print"),
    QStringLiteral("Audio"), QStringLiteral("Clock"), QStringLiteral("Chart"), QStringLiteral("Mix"),
    QStringLiteral("Code"), QStringLiteral("Shell"), QStringLiteral("Map"), QStringLiteral("Pad"),
};

struct Vendor
{
    QString name;     // "Norwick"
    QString domain;   // "com.norwick"
    int packages = 0;
};

enum class Kind { Application, CommandLine, Framework, Content };

QList<Vendor> makeVendors(SeededRandom &random, int packages)
{
    QList<Vendor> vendors;
    QSet<QString> used;
    const int count = qMax(1, packages / 5);
    while (vendors.size() < count) {
        QString name = random.pick(kVendorHeads) + random.pick(kVendorTails);
        if (used.contains(name))
            name += QString::number(vendors.size());
        used.insert(name);
        vendors << Vendor{name, random.pick(kDomains) + QLatin1Char('.') + name.toLower()};
    }
    return vendors;
}

// Per-package entry counts that add up to `total`, spread as real packages
// are: most small, a few very large.
QList<qint64> budgets(SeededRandom &random, int packages, qint64 total)
{
    QList<quint64> weights;
    quint64 sum = 0;
    for (int i = 0; i < packages; ++i) {
        weights << random.logUniform(1, 64);
        sum += weights.last();
    }
    QList<qint64> out;
    qint64 given = 0;
    for (int i = 0; i < packages; ++i) {
        const qint64 share = i + 1 == packages ? total - given : qint64(double(total) * double(weights[i]) / double(sum));
        out << share;
        given += share;
    }
    return out;
}

// The framework that a vendor's first two packages both list, entry for entry.
QList<PathItem> vendorFramework(const Vendor &vendor, SeededRandom &random)
{
    TreeGrower grower(random);
    const QString base = QStringLiteral("Library/Frameworks/") + vendor.name + QStringLiteral("Core.framework");
    grower.add(PathItem::link(base + QLatin1Char('/') + vendor.name + QStringLiteral("Core"),
                              QStringLiteral("Versions/Current/") + vendor.name + QStringLiteral("Core")));
    grower.add(PathItem::link(base + QStringLiteral("/Versions/Current"), QStringLiteral("A")));
    PathItem binary = PathItem::file(base + QStringLiteral("/Versions/A/") + vendor.name + QStringLiteral("Core"),
                                     random.logUniform(1 << 20, 30 << 20));
    binary.executable = true;
    grower.add(binary);
    grower.addRoot(base + QStringLiteral("/Versions/A/Resources"), Flavor::Resources);
    grower.addRoot(base + QStringLiteral("/Versions/A/Headers"), Flavor::Headers);
    grower.growTo(grower.size() + 10 + random.below(50));
    return grower.take();
}

void lay(TreeGrower &grower, Kind kind, const Vendor &vendor, const QString &product, SeededRandom &random,
         VolumeBuilder &builder, const QString &identifier)
{
    const QString support = QStringLiteral("Library/Application Support/") + vendor.name;
    grower.add(PathItem::folder(support));
    const QString lower = product.toLower().remove(QLatin1Char(' '));
    switch (kind) {
    case Kind::Application: {
        AppBundle app;
        app.path = QStringLiteral("/Applications/") + product + QStringLiteral(".app");
        app.name = product;
        app.bundleIdentifier = vendor.domain + QLatin1Char('.') + QString(product).remove(QLatin1Char(' '));
        app.iconFile = QStringLiteral("AppIcon.icns");
        app.executableSize = random.logUniform(1 << 20, 60 << 20);
        for (const PathItem &item : BundleLayout::paths(app, app.path.mid(1)))
            grower.add(item);
        grower.addRoot(app.path.mid(1) + QStringLiteral("/Contents/Resources"), Flavor::Resources, 3);
        grower.addRoot(app.path.mid(1) + QStringLiteral("/Contents/Frameworks"), Flavor::Code);
        grower.addRoot(support + QLatin1Char('/') + product, Flavor::Content);
        if (random.chance(0.5))
            builder.addGeneratedFiles(app.bundleIdentifier, product);
        break;
    }
    case Kind::CommandLine: {
        PathItem tool = PathItem::file(QStringLiteral("usr/local/bin/") + lower, random.logUniform(100 << 10, 20 << 20));
        tool.executable = true;
        grower.add(tool);
        grower.addRoot(QStringLiteral("usr/local/lib/") + lower, Flavor::Code);
        grower.addRoot(QStringLiteral("usr/local/lib/") + lower + QStringLiteral("/python3.11/site-packages/") + lower,
                       Flavor::Python, 2);
        grower.addRoot(QStringLiteral("usr/local/include/") + lower, Flavor::Headers);
        grower.addRoot(QStringLiteral("usr/local/share/") + lower, Flavor::Content);
        break;
    }
    case Kind::Framework: {
        const QString base = QStringLiteral("Library/Frameworks/") + QString(product).remove(QLatin1Char(' ')) + QStringLiteral(".framework");
        grower.add(PathItem::link(base + QStringLiteral("/Versions/Current"), QStringLiteral("A")));
        grower.addRoot(base + QStringLiteral("/Versions/A/Headers"), Flavor::Headers, 2);
        grower.addRoot(base + QStringLiteral("/Versions/A/Resources"), Flavor::Resources);
        grower.addRoot(QStringLiteral("Library/Developer/") + vendor.name + QLatin1Char('/') + product
                           + QStringLiteral("/Examples"),
                       Flavor::Code);
        break;
    }
    case Kind::Content:
        grower.addRoot(support + QLatin1Char('/') + product, Flavor::Content, 3);
        grower.addRoot(QStringLiteral("Library/Audio/Presets/") + vendor.name + QLatin1Char('/') + product, Flavor::Content);
        break;
    }
    if (random.chance(0.3)) {
        const QString label = identifier.toLower();
        const QVariantMap job{{QStringLiteral("Label"), label},
                              {QStringLiteral("ProgramArguments"), QVariantList{QStringLiteral("/Library/PrivilegedHelperTools/") + label}}};
        PathItem plist = PathItem::file(QStringLiteral("Library/LaunchDaemons/") + label + QStringLiteral(".plist"), 0);
        plist.contents = platform::PropertyList::toData(job, platform::PropertyList::Format::Xml);
        grower.add(plist);
        PathItem helper = PathItem::file(QStringLiteral("Library/PrivilegedHelperTools/") + label, random.logUniform(200 << 10, 4 << 20));
        helper.executable = true;
        grower.add(helper);
    }
}

void applyFilesMode(QList<PathItem> &paths, const LargeVolumeOptions &options)
{
    if (options.files == FilesOnDisk::All)
        return;
    const quint64 every = quint64(qMax(1, options.sampleEvery));
    for (PathItem &item : paths) {
        if (options.files == FilesOnDisk::None)
            item.onDisk = false;
        else if (item.kind != PathItem::Folder)
            item.onDisk = SeededRandom::hash(item.path) % every == 0;
    }
}

} // namespace

void populateLargeVolume(VolumeBuilder &builder, const LargeVolumeOptions &options)
{
    builder.addStandardFolders();
    SeededRandom random(options.seed);
    const int packages = qMax(1, options.packages);
    QList<Vendor> vendors = makeVendors(random, packages);
    const QList<qint64> targets = budgets(random, packages, qMax<qint64>(0, options.paths));
    QHash<QString, QList<PathItem>> frameworks;   // by vendor, made once
    QSet<QString> identifiers;
    qint64 carry = 0;   // entries given to earlier packages beyond their share
    TreeGrower grower(random);

    for (int i = 0; i < packages; ++i) {
        Vendor &vendor = vendors[random.below(quint32(vendors.size()))];
        QString product = random.pick(kProductHeads) + QLatin1Char(' ') + random.pick(kProductTails);
        QString identifier = vendor.domain + QStringLiteral(".pkg.") + QString(product).remove(QLatin1Char(' '));
        if (identifiers.contains(identifier)) {
            product += QLatin1Char(' ') + QString::number(i);
            identifier += QString::number(i);
        }
        identifiers.insert(identifier);

        const double roll = random.unit();
        const Kind kind = roll < 0.4 ? Kind::Application : roll < 0.6 ? Kind::CommandLine
                        : roll < 0.75 ? Kind::Framework : Kind::Content;
        lay(grower, kind, vendor, product, random, builder, identifier);
        if (vendor.packages < 2) {
            if (!frameworks.contains(vendor.name))
                frameworks.insert(vendor.name, vendorFramework(vendor, random));
            for (const PathItem &item : std::as_const(frameworks[vendor.name]))
                grower.add(item);
        }
        ++vendor.packages;
        grower.growTo(targets[i] - carry);
        carry = grower.size() - (targets[i] - carry);

        const double where = random.unit();
        Package package;
        package.identifier = identifier;
        package.version = QStringLiteral("%1.%2.%3").arg(1 + random.below(12)).arg(random.below(10)).arg(random.below(20));
        package.installDate = QDateTime(QDate(2018, 1, 1), QTime(9, 0), Qt::UTC).addSecs(random.between(0, 6LL * 365 * 86400));
        const double process = random.unit();
        package.installProcessName = process < 0.85 ? QStringLiteral("Installer")
                                : process < 0.93 ? QStringLiteral("Software Update")
                                : process < 0.97 ? QStringLiteral("installer") : QStringLiteral("App Store");
        package.paths = grower.take();
        applyFilesMode(package.paths, options);
        // Content may be installed for one user only; any kind may come
        // from an old-style bundle.
        if (kind == Kind::Content && where < 0.3) {
            package.location = Package::User;
            package.uid = 501;
            package.gid = 20;
        } else if (where > 0.95) {
            package.location = Package::Legacy;
            package.receiptName = vendor.name + QString(product).remove(QLatin1Char(' '));
        } else {
            package.location = Package::System;
        }
        builder.addReceipt(std::move(package));
    }
}

bool buildLargeVolume(const QString &physicalRoot, const LargeVolumeOptions &options, VolumeStats *stats, QString *error)
{
    VolumeBuilder builder(physicalRoot, options.home);
    populateLargeVolume(builder, options);
    if (!builder.write(error))
        return false;
    if (stats)
        *stats = builder.stats();
    return true;
}

bool buildLargeVolume(const QString &physicalRoot, quint32 seed, int packages, qint64 paths, FilesOnDisk files,
                      QString *error)
{
    LargeVolumeOptions options;
    options.seed = seed;
    options.packages = packages;
    options.paths = paths;
    options.files = files;
    return buildLargeVolume(physicalRoot, options, nullptr, error);
}

} // namespace volumegen
