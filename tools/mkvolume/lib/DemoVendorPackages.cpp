#include "DemoKit.h"
#include "DemoPackages.h"

namespace volumegen {

namespace {

using Format = platform::PropertyList::Format;

const QString kNorthwindSupport = QStringLiteral("Library/Application Support/Northwind");

AppBundle app(const QString &path, const QString &name, const QString &id, quint64 resources, GeneratedItems generated)
{
    AppBundle bundle;
    bundle.path = path;
    bundle.name = name;
    bundle.bundleIdentifier = id;
    bundle.iconFile = QStringLiteral("AppIcon.icns");
    bundle.resourcesSize = resources;
    bundle.generated = generated;
    return bundle;
}

// The framework two Tessellate packages both list, entry for entry.
QList<PathItem> sharedFramework(quint64 binarySize)
{
    const QString base = QStringLiteral("Library/Frameworks/Shared.framework");
    QList<PathItem> out{
        PathItem::folder(base),
        PathItem::link(base + QStringLiteral("/Shared"), QStringLiteral("Versions/Current/Shared")),
        PathItem::link(base + QStringLiteral("/Resources"), QStringLiteral("Versions/Current/Resources")),
        PathItem::folder(base + QStringLiteral("/Versions")),
        PathItem::link(base + QStringLiteral("/Versions/Current"), QStringLiteral("A")),
        PathItem::folder(base + QStringLiteral("/Versions/A")),
        PathItem::file(base + QStringLiteral("/Versions/A/Shared"), binarySize),
        PathItem::folder(base + QStringLiteral("/Versions/A/Resources")),
        DemoKit::text(base + QStringLiteral("/Versions/A/Resources/Info.plist"),
                      platform::PropertyList::toData(QVariantMap{{QStringLiteral("CFBundleIdentifier"),
                                                                  QStringLiteral("org.tessellate.Shared")},
                                                                 {QStringLiteral("CFBundlePackageType"),
                                                                  QStringLiteral("FMWK")}},
                                                     Format::Xml)),
    };
    out[6].executable = true;
    return out;
}

void addNorthwind(DemoKit &kit)
{
    Package ledger = kit.receipt(QStringLiteral("com.northwind.pkg.Ledger"), QStringLiteral("4.2.1"));
    ledger.fileName = QStringLiteral("NorthwindLedger-4.2.1.pkg");
    ledger.format = Format::Xml;
    ledger.packageGroups = {QStringLiteral("com.northwind.group.ledger")};
    ledger.applications << app(QStringLiteral("/Applications/Northwind Ledger.app"), QStringLiteral("Northwind Ledger"),
                               QStringLiteral("com.northwind.Ledger"), kit.random.logUniform(40 * kMB, 120 * kMB),
                               kTypicalGeneratedItems | GeneratedItem::Container | GeneratedItem::PreferencesLock
                                   | GeneratedItem::SystemPreferences);
    ledger.paths << PathItem::folder(kNorthwindSupport)
                 << kit.file(kNorthwindSupport + QStringLiteral("/Licenses/EULA.rtf"), 20 * kKB, 60 * kKB)
                 << kit.folderOf(kNorthwindSupport + QStringLiteral("/Ledger/Templates"),
                                 {QStringLiteral("Household.nwt"), QStringLiteral("Small Business.nwt"),
                                  QStringLiteral("Club Treasurer.nwt")},
                                 100 * kKB, 2 * kMB)
                 << DemoKit::launchdJob(QStringLiteral("Library/LaunchDaemons/com.northwind.ledger.helper.plist"),
                                        QStringLiteral("com.northwind.ledger.helper"),
                                        QStringLiteral("/Library/PrivilegedHelperTools/com.northwind.ledger.helper"))
                 << kit.executable(QStringLiteral("Library/PrivilegedHelperTools/com.northwind.ledger.helper"),
                                   300 * kKB, 2 * kMB);
    kit.builder.addReceipt(ledger);

    // Same vendor, same group: shares the vendor's support folder and one file in it.
    Package sync = kit.receipt(QStringLiteral("com.northwind.pkg.LedgerSync"), QStringLiteral("4.2.1"));
    sync.fileName = QStringLiteral("NorthwindLedger-4.2.1.pkg");
    sync.packageGroups = {QStringLiteral("com.northwind.group.ledger")};
    AppBundle syncApp = app(QStringLiteral("/Applications/Utilities/Ledger Sync.app"), QString(),
                          QStringLiteral("com.northwind.LedgerSync"), kit.random.logUniform(2 * kMB, 10 * kMB),
                          GeneratedItem::Preferences | GeneratedItem::Caches | GeneratedItem::LogsByName);
    sync.applications << syncApp;
    sync.paths << PathItem::folder(kNorthwindSupport)
               << PathItem::file(kNorthwindSupport + QStringLiteral("/Licenses/EULA.rtf"), ledger.paths.at(1).size)
               << kit.folderOf(kNorthwindSupport + QStringLiteral("/Sync"), {QStringLiteral("sync.db")}, 1 * kMB, 8 * kMB)
               << DemoKit::launchdJob(QStringLiteral("Library/LaunchAgents/com.northwind.ledgersync.agent.plist"),
                                      QStringLiteral("com.northwind.ledgersync.agent"),
                                      QStringLiteral("/Applications/Utilities/Ledger Sync.app/Contents/MacOS/Ledger Sync"));
    kit.builder.addReceipt(sync);

    // A kernel extension: the demo's protected items live here.
    Package driver = kit.receipt(QStringLiteral("com.northwind.pkg.AudioDriver"), QStringLiteral("2.0"));
    const QString kext = QStringLiteral("Library/Extensions/NorthwindAudio.kext");
    driver.paths << PathItem::folder(kext) << PathItem::folder(kext + QStringLiteral("/Contents"))
                 << DemoKit::text(kext + QStringLiteral("/Contents/Info.plist"),
                                  platform::PropertyList::toData(
                                      QVariantMap{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.northwind.driver.Audio")},
                                                  {QStringLiteral("CFBundlePackageType"), QStringLiteral("KEXT")}},
                                      Format::Xml))
                 << kit.executable(kext + QStringLiteral("/Contents/MacOS/NorthwindAudio"), 200 * kKB, 900 * kKB)
                 << kit.file(kext + QStringLiteral("/Contents/_CodeSignature/CodeResources"), 2 * kKB, 6 * kKB)
                 << kit.executable(QStringLiteral("Library/Audio/Plug-Ins/HAL/NorthwindAudio.driver/Contents/MacOS/NorthwindAudio"),
                                   500 * kKB, 3 * kMB);
    kit.builder.addReceipt(driver);
}

void addTessellate(DemoKit &kit)
{
    const quint64 frameworkSize = kit.random.logUniform(12 * kMB, 40 * kMB);

    Package core = kit.receipt(QStringLiteral("org.tessellate.pkg.Core"), QStringLiteral("3.1.0"));
    core.paths << sharedFramework(frameworkSize)
               << kit.executable(QStringLiteral("usr/local/bin/tessellate"), 1 * kMB, 6 * kMB)
               << kit.file(QStringLiteral("usr/local/share/man/man1/tessellate.1"), 8 * kKB, 30 * kKB);
    kit.builder.addReceipt(core);

    Package studio = kit.receipt(QStringLiteral("org.tessellate.pkg.Studio"), QStringLiteral("3.1.0"));
    AppBundle studioApp = app(QStringLiteral("/Applications/Tessellate Studio.app"), QStringLiteral("Tessellate Studio"),
                            QStringLiteral("org.tessellate.Studio"), kit.random.logUniform(120 * kMB, 260 * kMB),
                            kTypicalGeneratedItems | GeneratedItem::SupportById | GeneratedItem::SystemCaches);
    AppBundle agent;
    agent.path = QStringLiteral("Tessellate Agent.app");
    agent.bundleIdentifier = QStringLiteral("org.tessellate.Studio.Agent");
    agent.executableSize = 600 * kKB;
    studioApp.nested << agent;
    studio.applications << studioApp;
    studio.paths << sharedFramework(frameworkSize)
                 << kit.folderOf(QStringLiteral("Library/Application Support/Tessellate/Brushes"),
                                 {QStringLiteral("Charcoal.tbrush"), QStringLiteral("Gouache.tbrush"),
                                  QStringLiteral("Ink Wash.tbrush"), QStringLiteral("Pastel.tbrush")},
                                 200 * kKB, 6 * kMB);
    kit.builder.addReceipt(studio);
}

void addBrambleworks(DemoKit &kit)
{
    // Installed under a hidden name and renamed afterwards, as some
    // installers do: the bill lists /Applications/.Quire.app.
    Package quire = kit.receipt(QStringLiteral("com.brambleworks.Quire"), QStringLiteral("1.8"));
    AppBundle quireApp = app(QStringLiteral("/Applications/.Quire.app"), QStringLiteral("Quire"),
                           QStringLiteral("com.brambleworks.Quire"), kit.random.logUniform(20 * kMB, 60 * kMB),
                           kTypicalGeneratedItems | GeneratedItem::Container);
    quireApp.movedTo = QStringLiteral("/Applications/Quire.app");
    quireApp.executable = QStringLiteral("Quire");
    quire.applications << quireApp;
    const QString support = QStringLiteral("Library/Application Support/Brambleworks");
    quire.paths << PathItem::folder(support)
                << DemoKit::text(support + QStringLiteral("/Icon\r"), QByteArray())   // a custom folder icon
                << kit.folderOf(support + QStringLiteral("/Quire/Dictionaries"),
                                {QStringLiteral("en_GB.dic"), QStringLiteral("en_US.dic"), QStringLiteral("de_DE.dic")},
                                1 * kMB, 5 * kMB);
    kit.builder.addReceipt(quire);

    // Its receipt is com.brambleworks.plistkit.plist beside com.brambleworks.plistkit.bom.
    Package kit2 = kit.receipt(QStringLiteral("com.brambleworks.plistkit"), QStringLiteral("0.9.2"));
    kit2.paths << PathItem::folder(support)
               << kit.file(QStringLiteral("usr/local/lib/libplistkit.0.dylib"), 300 * kKB, 1 * kMB)
               << PathItem::link(QStringLiteral("usr/local/lib/libplistkit.dylib"), QStringLiteral("libplistkit.0.dylib"))
               << kit.folderOf(QStringLiteral("usr/local/include/plistkit"),
                               {QStringLiteral("plistkit.h"), QStringLiteral("reader.h"), QStringLiteral("writer.h")},
                               2 * kKB, 20 * kKB);
    kit.builder.addReceipt(kit2);
}

void addQuillon(DemoKit &kit)
{
    // Installed into a temporary folder, then moved to /Applications.
    Package inkwell = kit.receipt(QStringLiteral("net.quillon.Inkwell"), QStringLiteral("3.0"));
    inkwell.prefix = QStringLiteral("tmp/net.quillon.inkwell.X7Qa");
    AppBundle inkwellApp = app(QStringLiteral("/tmp/net.quillon.inkwell.X7Qa/Applications/Inkwell.app"),
                             QStringLiteral("Inkwell"), QStringLiteral("net.quillon.Inkwell"),
                             kit.random.logUniform(15 * kMB, 50 * kMB), kTypicalGeneratedItems);
    inkwellApp.movedTo = QStringLiteral("/Applications/Inkwell.app");
    inkwell.applications << inkwellApp;
    kit.builder.addReceipt(inkwell);

    // A receipt whose bill was deleted: the store skips it, its files stay.
    Package dictionaries = kit.receipt(QStringLiteral("net.quillon.InkwellDictionaries"), QStringLiteral("3.0"));
    dictionaries.billDamage = Damage::Missing;
    dictionaries.paths << kit.folderOf(QStringLiteral("Library/Dictionaries/Inkwell Thesaurus.dictionary/Contents"),
                                       {QStringLiteral("Body.data"), QStringLiteral("KeyText.index")}, 5 * kMB, 30 * kMB);
    kit.builder.addReceipt(dictionaries);
}

void addHalcyonAndSaltmarsh(DemoKit &kit)
{
    // Defunct: the application was dragged to the bin, the rest is still there.
    Package drift = kit.receipt(QStringLiteral("io.halcyonlabs.Drift"), QStringLiteral("2.5.3"));
    AppBundle driftApp = app(QStringLiteral("/Applications/Drift.app"), QStringLiteral("Drift"),
                           QStringLiteral("io.halcyonlabs.Drift"), kit.random.logUniform(10 * kMB, 30 * kMB),
                           kTypicalGeneratedItems);
    driftApp.onDisk = false;
    drift.applications << driftApp;
    drift.paths << kit.folderOf(QStringLiteral("Library/Application Support/Halcyon Labs/Drift"),
                                {QStringLiteral("Updater.zip"), QStringLiteral("Sounds.bundle")}, 2 * kMB, 12 * kMB)
                << DemoKit::launchdJob(QStringLiteral("Library/LaunchAgents/io.halcyonlabs.drift.updater.plist"),
                                       QStringLiteral("io.halcyonlabs.drift.updater"),
                                       QStringLiteral("/Applications/Drift.app/Contents/MacOS/Drift"));
    kit.builder.addReceipt(drift);

    Package tide = kit.receipt(QStringLiteral("com.saltmarsh.Tide"), QStringLiteral("5.0.2"));
    tide.format = Format::Xml;
    tide.packageGroups = {QStringLiteral("com.saltmarsh.group.tide"), QStringLiteral("com.saltmarsh.group.suite")};
    tide.applications << app(QStringLiteral("/Applications/Tide.app"), QStringLiteral("Tide"),
                             QStringLiteral("com.saltmarsh.Tide"), kit.random.logUniform(30 * kMB, 90 * kMB),
                             kTypicalGeneratedItems | GeneratedItem::SystemCaches | GeneratedItem::SystemPreferences
                                 | GeneratedItem::SystemSupport);
    kit.builder.addReceipt(tide);
}

void addMistralSound(DemoKit &kit)
{
    // The big one, so that the list shows gigabytes as well as kilobytes.
    Package samples = kit.receipt(QStringLiteral("com.mistralsound.pkg.SampleLibrary"), QStringLiteral("1.0"));
    const QString base = QStringLiteral("Library/Application Support/Mistral Sound/Samples");
    samples.paths << kit.folderOf(base + QStringLiteral("/Strings"),
                                  {QStringLiteral("Violins Sustain.wav"), QStringLiteral("Violas Pizzicato.wav"),
                                   QStringLiteral("Cellos Legato.wav")},
                                  80 * kMB, 300 * kMB)
                  << kit.folderOf(base + QStringLiteral("/Brass"),
                                  {QStringLiteral("Horns Swell.wav"), QStringLiteral("Trumpets Staccato.wav")},
                                  60 * kMB, 200 * kMB)
                  << kit.folderOf(base + QStringLiteral("/Percussion"),
                                  {QStringLiteral("Timpani Rolls.wav"), QStringLiteral("Frame Drums.wav"),
                                   QStringLiteral("Bells.wav")},
                                  20 * kMB, 120 * kMB);
    kit.builder.addReceipt(samples);

    // For this user only: installed relative to the home folder.
    Package plugins = kit.receipt(QStringLiteral("com.mistralsound.pkg.Plugins"), QStringLiteral("1.4"),
                                      Package::User);
    const QString component = QStringLiteral("Library/Audio/Plug-Ins/Components/Mistral Reverb.component/Contents");
    plugins.paths << kit.executable(component + QStringLiteral("/MacOS/Mistral Reverb"), 2 * kMB, 9 * kMB)
                  << DemoKit::text(component + QStringLiteral("/Info.plist"),
                                   platform::PropertyList::toData(
                                       QVariantMap{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.mistralsound.Reverb")}},
                                       Format::Xml))
                  << kit.folderOf(QStringLiteral("Library/Application Support/Mistral Sound/Presets"),
                                  {QStringLiteral("Cathedral.mpreset"), QStringLiteral("Small Room.mpreset")}, 4 * kKB, 40 * kKB);
    kit.builder.addReceipt(plugins);

    // For this user only, into ~/Applications (prefix "Applications").
    Package timetable = kit.receipt(QStringLiteral("de.ferrovia.Timetable"), QStringLiteral("3.4"), Package::User);
    timetable.prefix = QStringLiteral("Applications");
    timetable.format = Format::Xml;
    timetable.applications << app(kit.builder.home() + QStringLiteral("/Applications/Timetable.app"),
                                  QStringLiteral("Timetable"), QStringLiteral("de.ferrovia.Timetable"),
                                  kit.random.logUniform(5 * kMB, 20 * kMB), kTypicalGeneratedItems);
    kit.builder.addReceipt(timetable);
}

void addOakum(DemoKit &kit)
{
    // Command-line tools, with a few files in places the planner never
    // touches (/usr/bin, /private/etc, /private/var, /usr/share).
    Package cli = kit.receipt(QStringLiteral("com.oakum.pkg.cli"), QStringLiteral("7.3.0"));
    cli.paths << kit.executable(QStringLiteral("usr/local/bin/oakum"), 4 * kMB, 16 * kMB)
              << PathItem::link(QStringLiteral("usr/local/bin/oak"), QStringLiteral("oakum"))
              << PathItem::link(QStringLiteral("usr/local/bin/oakum-legacy"), QStringLiteral("../lib/oakum/legacy/oakum"))
              << kit.folderOf(QStringLiteral("usr/local/lib/oakum"),
                              {QStringLiteral("liboakum-core.dylib"), QStringLiteral("liboakum-net.dylib")}, 1 * kMB, 8 * kMB)
              << kit.file(QStringLiteral("usr/local/share/man/man1/oakum.1"), 10 * kKB, 40 * kKB)
              << kit.executable(QStringLiteral("usr/bin/oakum-shim"), 20 * kKB, 80 * kKB)
              << DemoKit::text(QStringLiteral("private/etc/paths.d/oakum"), QByteArrayLiteral("/usr/local/lib/oakum/bin\n"))
              << kit.file(QStringLiteral("private/var/db/oakum/state.db"), 64 * kKB, 512 * kKB);
    kit.builder.addReceipt(cli);

    Package completions = kit.receipt(QStringLiteral("com.oakum.pkg.completions"), QStringLiteral("7.3.0"));
    completions.paths << kit.file(QStringLiteral("usr/local/share/zsh/site-functions/_oakum"), 4 * kKB, 20 * kKB)
                      << kit.file(QStringLiteral("usr/local/share/bash-completion/completions/oakum"), 4 * kKB, 20 * kKB)
                      << kit.file(QStringLiteral("usr/share/oakum/README"), 1 * kKB, 4 * kKB);
    kit.builder.addReceipt(completions);

    // A receipt cut off in the middle: not a property list any more.
    Package garbled = kit.receipt(QStringLiteral("com.oakum.pkg.docs"), QStringLiteral("7.3.0"));
    garbled.receiptDamage = Damage::Unopenable;
    garbled.paths << kit.file(QStringLiteral("usr/local/share/doc/oakum/manual.pdf"), 1 * kMB, 4 * kMB);
    kit.builder.addReceipt(garbled);
}

void addLumenfold(DemoKit &kit)
{
    // Its bill lost its first block: PackageKit cannot open it, so the
    // record comes out flagged damaged, with no files.
    Package prism = kit.receipt(QStringLiteral("com.lumenfold.Prism"), QStringLiteral("2.2"));
    prism.billDamage = Damage::Unopenable;
    prism.applications << app(QStringLiteral("/Applications/Prism.app"), QStringLiteral("Prism"),
                              QStringLiteral("com.lumenfold.Prism"), kit.random.logUniform(10 * kMB, 40 * kMB),
                              GeneratedItem::Preferences | GeneratedItem::Caches);
    kit.builder.addReceipt(prism);

    // Its bill opens but its tree is broken: reading it fails later, which
    // is logged but not flagged.
    Package helper = kit.receipt(QStringLiteral("com.lumenfold.PrismHelper"), QStringLiteral("2.2"));
    helper.billDamage = Damage::Corrupt;
    helper.paths << kit.executable(QStringLiteral("Library/PrivilegedHelperTools/com.lumenfold.prism.helper"), 200 * kKB, 1 * kMB)
                 << DemoKit::launchdJob(QStringLiteral("Library/LaunchDaemons/com.lumenfold.prism.helper.plist"),
                                        QStringLiteral("com.lumenfold.prism.helper"),
                                        QStringLiteral("/Library/PrivilegedHelperTools/com.lumenfold.prism.helper"));
    kit.builder.addReceipt(helper);
}

} // namespace

void addVendorPackages(DemoKit &kit)
{
    addNorthwind(kit);
    addTessellate(kit);
    addBrambleworks(kit);
    addQuillon(kit);
    addHalcyonAndSaltmarsh(kit);
    addMistralSound(kit);
    addOakum(kit);
    addLumenfold(kit);
}

} // namespace volumegen
