#include "DemoVolume.h"

#include "DemoKit.h"
#include "DemoPackages.h"

#include <QUrl>

namespace volumegen {

namespace {

QVariantMap dockTile(const QString &bundlePath)
{
    const QVariantMap fileData{
        {QStringLiteral("_CFURLString"), QUrl::fromLocalFile(bundlePath + QLatin1Char('/')).toString(QUrl::FullyEncoded)},
        {QStringLiteral("_CFURLStringType"), qint64(15)},
    };
    return QVariantMap{
        {QStringLiteral("tile-data"), QVariantMap{{QStringLiteral("file-data"), fileData},
                                                  {QStringLiteral("file-label"), bundlePath.section(QLatin1Char('/'), -1).chopped(4)}}},
        {QStringLiteral("tile-type"), QStringLiteral("file-tile")},
    };
}

// The user's session: Dock tiles (one twice, one for an application that
// is gone) and login items, which the uninstall cleans up.
void addSession(VolumeBuilder &builder)
{
    const QVariantList tiles{
        dockTile(QStringLiteral("/Applications/Northwind Ledger.app")), dockTile(QStringLiteral("/Applications/Tide.app")),
        dockTile(QStringLiteral("/Applications/Drift.app")), dockTile(QStringLiteral("/Applications/Quire.app")),
        dockTile(QStringLiteral("/Applications/Tide.app")),
    };
    const QVariantMap dock{
        {QStringLiteral("persistent-apps"), tiles},
        {QStringLiteral("persistent-others"), QVariantList{}},
        {QStringLiteral("tilesize"), qint64(48)},
        {QStringLiteral("orientation"), QStringLiteral("bottom")},
    };
    builder.addFile(builder.home() + QStringLiteral("/Library/Preferences/com.apple.dock.plist"),
                    platform::PropertyList::toData(dock, platform::PropertyList::Format::Binary));

    const QString autostart = builder.home() + QStringLiteral("/.config/autostart/");
    builder.addFile(autostart + QStringLiteral("com.northwind.LedgerSync.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Ledger Sync\n"
                    "Exec=\"/Applications/Utilities/Ledger Sync.app/Contents/MacOS/Ledger Sync\" --background\n");
    builder.addFile(autostart + QStringLiteral("io.halcyonlabs.Drift.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Drift\nExec=/Applications/Drift.app/Contents/MacOS/Drift\n");
}

} // namespace

void populateDemoVolume(VolumeBuilder &builder, quint32 seed)
{
    builder.addStandardFolders();
    DemoKit kit(builder, seed);
    addVendorPackages(kit);
    addSystemPackages(kit);

    // Copied by hand: no package lists it.
    AppBundle notes;
    notes.path = QStringLiteral("/Applications/Corvid Notes.app");
    notes.name = QStringLiteral("Corvid Notes");
    notes.bundleIdentifier = QStringLiteral("org.corvid.Notes");
    notes.iconFile = QStringLiteral("Notes.icns");
    notes.resourcesSize = kit.random.logUniform(4 * kMB, 12 * kMB);
    notes.generated = kTypicalGeneratedItems;
    builder.addApplication(notes);

    addSession(builder);
}

QStringList demoProtectedPaths()
{
    return {
        QStringLiteral("/Library/Extensions/NorthwindAudio.kext/Contents/MacOS/NorthwindAudio"),
        QStringLiteral("/Library/Extensions/NorthwindAudio.kext/Contents/Info.plist"),
        QStringLiteral("/Library/Extensions/NorthwindAudio.kext"),
        QStringLiteral("/Applications/Utilities/Disk Ledger.app/Contents/MacOS/Disk Ledger"),
        QStringLiteral("/Applications/Utilities/Disk Ledger.app"),
    };
}

bool buildDemoVolume(const QString &physicalRoot, const VolumeOptions &options, VolumeStats *stats, QString *error)
{
    VolumeBuilder builder(physicalRoot, options.home);
    populateDemoVolume(builder, options.seed);
    if (!builder.write(error))
        return false;
    if (options.protect)
        for (const QString &path : demoProtectedPaths())
            builder.protect(path);
    if (stats)
        *stats = builder.stats();
    return true;
}

bool buildDemoVolume(const QString &physicalRoot, quint32 seed, QString *error)
{
    VolumeOptions options;
    options.seed = seed;
    return buildDemoVolume(physicalRoot, options, nullptr, error);
}

} // namespace volumegen
