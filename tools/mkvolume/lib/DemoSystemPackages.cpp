#include "DemoKit.h"
#include "DemoPackages.h"

namespace volumegen {

namespace {

using Format = platform::PropertyList::Format;

void addApplePackages(DemoKit &kit)
{
    // Essential: the planner refuses it. Installed by a program that is not
    // on the ignored list, so that it shows in the list.
    Package bsd = kit.receipt(QStringLiteral("com.apple.pkg.BSD"), QStringLiteral("10.15.7.1.1.1600830000"));
    bsd.fileName = QStringLiteral("BSD.pkg");
    bsd.paths << PathItem::folder(QStringLiteral("bin")) << PathItem::folder(QStringLiteral("usr/bin"))
              << PathItem::folder(QStringLiteral("private/etc"));
    for (const char *tool : {"bin/echo", "bin/sleep", "usr/bin/tabulate", "usr/bin/wordcount", "usr/bin/columnize"})
        bsd.paths << kit.executable(QLatin1String(tool), 30 * kKB, 400 * kKB);
    bsd.paths << kit.file(QStringLiteral("private/etc/shells"), 179, 179)
              << kit.file(QStringLiteral("usr/share/man/man1/tabulate.1"), 3 * kKB, 12 * kKB);
    kit.builder.addReceipt(bsd);

    // Kept out of the list by the ignored installers.
    Package essentials = kit.receipt(QStringLiteral("com.apple.pkg.Essentials"), QStringLiteral("10.15.7.1.1.1600830000"));
    essentials.installProcessName = QStringLiteral("OS X Installer");
    essentials.fileName = QStringLiteral("Essentials.pkg");
    essentials.paths << kit.folderOf(QStringLiteral("System/Library/CoreServices/CoreTypes.bundle/Contents"),
                                     {QStringLiteral("Info.plist"), QStringLiteral("version.plist")}, 1 * kKB, 8 * kKB)
                     << kit.file(QStringLiteral("usr/lib/libsampler.dylib"), 200 * kKB, 2 * kMB);
    kit.builder.addReceipt(essentials);

    Package profiles = kit.receipt(QStringLiteral("com.apple.pkg.DisplayProfiles"), QStringLiteral("2.1"));
    profiles.installProcessName = QStringLiteral("softwareupdated");
    profiles.paths << kit.folderOf(QStringLiteral("Library/ColorSync/Profiles/Displays"),
                                   {QStringLiteral("Studio Panel.icc"), QStringLiteral("Wide Gamut Panel.icc")},
                                   2 * kKB, 12 * kKB);
    kit.builder.addReceipt(profiles);

    // An application from a "com.apple." package: never counted as an
    // application package, but its name and identifiers are still gathered.
    Package ledger = kit.receipt(QStringLiteral("com.apple.pkg.DiskLedger"), QStringLiteral("1.2"));
    AppBundle ledgerApp;
    ledgerApp.path = QStringLiteral("/Applications/Utilities/Disk Ledger.app");
    ledgerApp.name = QStringLiteral("Disk Ledger");
    ledgerApp.bundleIdentifier = QStringLiteral("com.apple.DiskLedger");
    ledgerApp.iconFile = QStringLiteral("AppIcon.icns");
    ledgerApp.resourcesSize = kit.random.logUniform(3 * kMB, 9 * kMB);
    ledgerApp.generated = GeneratedItem::Preferences;
    ledger.applications << ledgerApp;
    kit.builder.addReceipt(ledger);
}

void addThirdPartyUpdates(DemoKit &kit)
{
    // Printer software that Software Update installed: kept out of the list
    // by the default ignored installers, but its paths still count as used.
    Package driver = kit.receipt(QStringLiteral("com.pellucid.printers.driver"), QStringLiteral("10.4"));
    driver.installProcessName = QStringLiteral("Software Update");
    driver.paths << kit.folderOf(QStringLiteral("Library/Printers/Pellucid/Filters"),
                                 {QStringLiteral("pstopellucid"), QStringLiteral("rastertopellucid")}, 100 * kKB, 900 * kKB)
                 << kit.file(QStringLiteral("Library/Printers/PPDs/Contents/Resources/Pellucid LX-400.gz"), 20 * kKB, 90 * kKB);
    kit.builder.addReceipt(driver);

    Package utility = kit.receipt(QStringLiteral("com.pellucid.printers.utility"), QStringLiteral("10.4"));
    utility.installProcessName = QStringLiteral("Software Update");
    utility.paths << kit.folderOf(QStringLiteral("Library/Printers/Pellucid/Utilities"),
                                  {QStringLiteral("Pellucid Ink Levels.plugin")}, 1 * kMB, 3 * kMB);
    kit.builder.addReceipt(utility);
}

void addLegacyBundles(DemoKit &kit)
{
    // An old-style bundle: /Library/Receipts/CorvidNest.pkg.
    Package nest = kit.receipt(QStringLiteral("org.corvid.Nest"), QStringLiteral("1.4"), Package::Legacy);
    nest.receiptName = QStringLiteral("CorvidNest");
    nest.prefix = QStringLiteral("/Applications");
    AppBundle nestApp;
    nestApp.path = QStringLiteral("/Applications/Nest.app");
    nestApp.name = QStringLiteral("Nest");
    nestApp.bundleIdentifier = QStringLiteral("org.corvid.Nest");
    nestApp.resourcesSize = kit.random.logUniform(2 * kMB, 8 * kMB);
    nestApp.generated = GeneratedItem::Preferences | GeneratedItem::SupportByName;
    nest.applications << nestApp;
    kit.builder.addReceipt(nest);

    // No CFBundleIdentifier: the store takes CFBundleName. Installed where
    // IFPkgRelocatedPath says, not the default location.
    Package fonts = kit.receipt(QStringLiteral("Corvid Fonts"), QStringLiteral("2.0"), Package::Legacy);
    fonts.receiptName = QStringLiteral("CorvidFonts");
    fonts.legacyWithoutIdentifier = true;
    fonts.prefix = QStringLiteral("/Library/Fonts");
    fonts.relocatedPrefix = QStringLiteral("/Library/Fonts/Corvid");
    for (const char *face : {"Corvid Sans Regular.otf", "Corvid Sans Bold.otf", "Corvid Serif Italic.otf"})
        fonts.paths << kit.file(QLatin1String(face), 80 * kKB, 600 * kKB);
    kit.builder.addReceipt(fonts);

    // Neither identifier nor name: the store takes the bundle's file name.
    // No Archive.bom either, just one other bill inside the bundle.
    Package bare = kit.receipt(QStringLiteral("LumenfoldLegacy.pkg"), QStringLiteral("1.0"), Package::Legacy);
    bare.receiptName = QStringLiteral("LumenfoldLegacy");
    bare.legacyWithoutIdentifier = true;
    bare.legacyWithoutName = true;
    bare.legacyBillPath = QStringLiteral("Contents/Resources/LumenfoldLegacy.bom");
    bare.paths << kit.folderOf(QStringLiteral("Library/Application Support/Lumenfold/Legacy"),
                               {QStringLiteral("Filters.plugin"), QStringLiteral("Presets.db")}, 100 * kKB, 3 * kMB);
    kit.builder.addReceipt(bare);

    // What old systems leave: BSD.pkg without its Info.plist, which the
    // store skips without a word.
    Package oldBsd = kit.receipt(QStringLiteral("BSD.pkg"), QStringLiteral("10.4"), Package::Legacy);
    oldBsd.receiptName = QStringLiteral("BSD");
    oldBsd.receiptDamage = Damage::Missing;
    oldBsd.paths << PathItem::folder(QStringLiteral("usr/bin"))
                 << PathItem::file(QStringLiteral("usr/bin/tabulate"), 0);
    oldBsd.paths.last().onDisk = false;   // the system's own copy belongs to com.apple.pkg.BSD
    kit.builder.addReceipt(oldBsd);
}

} // namespace

void addSystemPackages(DemoKit &kit)
{
    addApplePackages(kit);
    addThirdPartyUpdates(kit);
    addLegacyBundles(kit);
}

} // namespace volumegen
