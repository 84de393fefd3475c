#include "dorvane/Settings.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/planning/PathProbe.h"
#include "dorvane/planning/PlanTree.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/rules/RemovalRules.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Log.h"
#include "support/BuiltVolume.h"
#include "support/LogRing.h"

#include "VolumeGenerator.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

using namespace dorvane;
using volumegen::AppBundle;
using volumegen::Package;
using volumegen::PathItem;

// The uninstall planner on generated volumes: every path sorted into the
// one list it belongs to, the generated items and application folders, the
// tree the sheet shows, and the guarantees the uninstall relies on.
class PlannerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Settings::registerDefaults(); }
    void init()
    {
        m_volume = std::make_unique<BuiltVolume>();
        m_protected.clear();
    }
    void cleanup() { m_volume.reset(); }   // its protected items too

    void probeAgreesWithTheLibrary();
    void receiptsSpeakForWhatTheirKindMay();
    void classification_data();
    void classification();
    void ignoreTests_data();
    void ignoreTests();
    void generatedItems_data();
    void generatedItems();
    void applicationFolders();
    void overlapDropsGeneratedItems_data();
    void overlapDropsGeneratedItems();
    void sizesDoNotFollowLinks();
    void progressLines();
    void longListsKeepTheirOrder();
    void treeHeadingsAndCounts();
    void treeOfThePlannedVolume();
    void neverRemovesWhatItMustKeep();
    void invariantsHoldOnGeneratedVolumesWithTraps_data();
    void invariantsHoldOnGeneratedVolumesWithTraps();
    void oddSpellingsNeverReachTheRemovalLists_data();
    void oddSpellingsNeverReachTheRemovalLists();

private:
    Catalogue write(const QList<Package> &packages, const QStringList &protect = {});
    void checkInvariants(const Catalogue &catalogue, const QList<QStringList> &selections);
    QString expand(const QString &path) const { return path.startsWith('~') ? m_volume->home() + path.mid(1) : path; }

    std::unique_ptr<BuiltVolume> m_volume;
    QStringList m_protected;
};

namespace {

// The item itself, as the door sees it (a final link not followed).
std::optional<platform::ItemStatus> itemStatus(const QString &path)
{
    const std::optional<platform::LogicalPath> logical = platform::volumePath(path);
    return logical ? platform::Volume::current()->status(*logical, platform::Follow::NotFinal) : std::nullopt;
}

const QString kMinus = QStringLiteral("/bundle/Contents/Resources/minus.png");

PathItem missingFile(const QString &path)
{
    PathItem item = PathItem::file(path, 999);
    item.onDisk = false;
    return item;
}

QList<PackageRecord> select(const Catalogue &catalogue, const QStringList &identifiers)
{
    return recordsNamed(catalogue.installerPackages, identifiers);
}

// The lists of a plan a path appears in, once per appearance.
QStringList listsHolding(const UninstallPlan &plan, const QString &path)
{
    QStringList lists;
    const auto count = [&](const char *name, const QStringList &list) {
        for (qsizetype i = 0; i < list.count(path); ++i)
            lists << QString::fromLatin1(name);
    };
    count("removeFiles", platform::toStrings(plan.removeFiles));
    count("removeFolders", platform::toStrings(plan.removeFolders));
    count("ignoredFiles", platform::toStrings(plan.ignoredFiles));
    count("missingPaths", platform::toStrings(plan.missingPaths));
    count("protectedPaths", platform::toStrings(plan.protectedPaths));
    for (const SharedFile &file : plan.sharedFiles) {
        if (file.path.toString() == path)
            lists << QStringLiteral("sharedFiles");
    }
    return lists;
}

const QString kSelected = QStringLiteral("com.example.selected");
const QString kSecond = QStringLiteral("com.example.second");
const QString kOther = QStringLiteral("com.example.other");
const QString kKeptOut = QStringLiteral("com.example.keptout");

const QString kExample = QStringLiteral("/Library/Application Support/Example");
const QString kKext = QStringLiteral("/Library/Extensions/Example.kext");
const QString kKextInfo = QStringLiteral("/Library/Extensions/Example.kext/Contents/Info.plist");

// One case for every row of the classification, in four packages: two
// selected, one not, and one kept out of the list by its installer.
QList<Package> classificationCases()
{
    Package selected = package(kSelected, {
        PathItem::folder("/usr/share/example"),
        PathItem::folder("/Library/Shared Stuff"),
        PathItem::file("/Library/Shared Stuff/common.dat", 2000),
        PathItem::file("/Library/Shared Stuff/kept.dat", 3000),
        PathItem::folder(kKext),
        PathItem::file(kKextInfo, 400),
        PathItem::folder(kExample),
        missingFile(kExample + "/gone.txt"),
        PathItem::link(kExample + "/dangling", "nowhere"),
        PathItem::folder(kExample + "/Data"),
        PathItem::link(kExample + "/DataLink", "Data"),
        PathItem::file(kExample + "/both.dat", 500),
        PathItem::file(kExample + "/plain.dat", 1234),
        PathItem::file("/usr/bin/example-tool", 300),
        PathItem::link("/usr/bin/example-dangling", "missing-target"),
    });
    Package second = package(kSecond, {PathItem::file(kExample + "/both.dat", 500)});
    Package other = package(kOther, {
        PathItem::folder("/Library/Shared Stuff"),
        PathItem::file("/Library/Shared Stuff/common.dat", 2000),
    });
    Package keptOut = package(kKeptOut, {PathItem::file("/Library/Shared Stuff/kept.dat", 3000)});
    keptOut.installProcessName = QStringLiteral("Software Update");
    return {selected, second, other, keptOut};
}

} // namespace

Catalogue PlannerTest::write(const QList<Package> &packages, const QStringList &protect)
{
    writeReceipts(m_volume->builder, packages);
    for (const QString &path : protect) {
        if (m_volume->builder.protect(path))
            m_protected << path;
    }
    return CatalogueScanner::scan(kMinus).value_or(Catalogue());
}

// The planner's fast look at the disk gives the library's answers, whatever
// links, loops or odd spellings lie on the way; one probe serves all paths,
// so its remembered folders are exercised too.
void PlannerTest::probeAgreesWithTheLibrary()
{
    m_volume->builder.addStandardFolders();
    m_volume->builder.addSparseFile("/opt/a/file", 1234);
    m_volume->builder.addFolder("/opt/a/folder");
    m_volume->builder.addLink("/opt/a/file-link", "file");
    m_volume->builder.addLink("/opt/a/folder-link", "folder");
    m_volume->builder.addLink("/opt/a/dangling", "nothing");
    m_volume->builder.addSparseFile("/opt/b/file", 99);
    m_volume->builder.addLink("/opt/linked", "a");                  // a folder reached through a link
    m_volume->builder.addLink("/opt/absolute", "/opt/b");           // absolute: counted from the volume's root
    m_volume->builder.addLink("/opt/climbing", "../../../../opt/b"); // ".." never leaves the volume
    m_volume->builder.addLink("/opt/loop", "loop");
    m_volume->builder.addFile("/private/etc/hosts", "127.0.0.1 localhost\n");
    m_volume->builder.addFile("/opt/locked/file", "x");
    m_volume->builder.addFolder("/opt/locked/folder");
    QStringList roundTheFolders;   // more folders than a probe keeps open, then back
    for (int i = 0; i < 10; ++i) {
        m_volume->builder.addSparseFile(QStringLiteral("/opt/f%1/file").arg(i), 100 + i);
        roundTheFolders << QStringLiteral("/opt/f%1/file").arg(i);
    }
    write({}, {"/opt/locked/file", "/opt/locked/folder"});

    QStringList paths{
        "/opt/a/file", "/opt/a/folder", "/opt/a/file-link", "/opt/a/folder-link", "/opt/a/dangling",
        "/opt/a/missing", "/opt/b/file", "/opt/a/folder", // back to a folder asked about before
        "/opt/linked/file", "/opt/linked/folder-link", "/opt/absolute/file", "/opt/climbing/file",
        "/opt/loop/file", "/opt/loop", "/etc/hosts", "/etc", "/private/etc/hosts", "/opt/missing/file",
        "/opt/a/file/child", "/opt", "/", "/opt//a/file", "/opt/./a/file", "/opt/b/../a/file", "/opt/a/folder/",
        "/opt/a/folder-link/", "~", "~/Library", "/opt/locked/file", "/opt/locked/folder", "", "relative/path",
    };
    paths << roundTheFolders << "/opt/f0/file" << "/opt/a/file" << "/opt/f9/file" << "/opt/f2/file";
    PathProbe probe;
    PathProbe cleanProbe;   // asked by the bytes of clean paths, as the size pass asks
    using Kind = PathProbe::Item::Kind;
    for (const QString &path : paths) {
        const PathProbe::Item item = probe.look(path);
        const std::optional<platform::LogicalPath> logical = platform::volumePath(path);
        if (logical && logical->toString() == path) {
            const PathProbe::Item clean = cleanProbe.lookClean(path.toUtf8());
            QVERIFY2(clean.kind == item.kind && clean.size == item.size && clean.restricted == item.restricted,
                     qPrintable(path));
        }
        const auto attributes = itemStatus(path);
        const Kind expected = !attributes                  ? Kind::Missing
                              : attributes->isDirectory() ? Kind::Folder
                              : attributes->isLink()      ? Kind::Link
                                                          : Kind::File;
        QVERIFY2(item.kind == expected, qPrintable(path));
        QVERIFY2(item.size == (attributes ? attributes->size : 0), qPrintable(path));
        QVERIFY2(PathProbe::isRestricted(item) == kestrum::fileIsRestricted(path), qPrintable(path));
    }
    // The cases that matter are really there.
    QCOMPARE(probe.look("/opt/linked/file").kind, Kind::File);
    QCOMPARE(probe.look("/opt/absolute/file").size, quint64(99));
    QCOMPARE(probe.look("/opt/a/folder-link").kind, Kind::Link);
    QCOMPARE(probe.look("/opt/loop/file").kind, Kind::Missing);
    QCOMPARE(probe.look("/opt/f2/file").size, quint64(102));
    QCOMPARE(cleanProbe.lookClean("/opt/f0/file").size, quint64(100));
    QCOMPARE(cleanProbe.lookClean("/opt/a/folder").kind, Kind::Folder);
    QCOMPARE(probe.look("/etc/hosts").kind, Kind::File);
    if (m_protected.size() == 2) {
        QVERIFY(PathProbe::isRestricted(probe.look("/opt/locked/file")));
        QVERIFY(PathProbe::isRestricted(probe.look("/opt/locked/folder")));
        QVERIFY(!PathProbe::isRestricted(probe.look("/opt/a/file")));
    }
}

void PlannerTest::classification_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("list");        // empty: in no list at all
    QTest::addColumn<bool>("rootless");
    QTest::addColumn<bool>("needsProtection");
    QTest::addColumn<QStringList>("usedBy");  // for shared files
    QTest::addColumn<QStringList>("selection");
    const auto row = [](const char *name, const QString &path, const char *list, bool rootless = true,
                        bool needsProtection = false, const QStringList &usedBy = {},
                        const QStringList &selection = {kSelected, kSecond}) {
        QTest::newRow(name) << path << QString::fromLatin1(list) << rootless << needsProtection << usedBy << selection;
    };
    // 1: folders that are ignored are neither removed nor shown.
    row("1 folder in an ignored location", "/usr/share/example", "");
    row("1 fixed system folder itself", "/usr/bin", "");
    // 2: a folder another package lists stays silently.
    row("2 folder another package lists", "/Library/Shared Stuff", "");
    // 3: protected folders are shown as such, and only with the protection on.
    row("3 protected folder", kKext, "protectedPaths", true, true);
    row("3 protected folder, protection off", kKext, "removeFolders", false, true);
    // 4: the folders the bills list themselves, the implied parents included.
    row("4 folder to remove", kExample, "removeFolders");
    row("4 parent folder the bill lists", "/Library/Application Support", "removeFolders");
    row("4 folder behind a link", kExample + "/Data", "removeFolders");
    // 5: what is gone, before any other test.
    row("5 missing file", kExample + "/gone.txt", "missingPaths");
    row("5 dangling link", kExample + "/dangling", "missingPaths");
    row("5 dangling link in an ignored location", "/usr/bin/example-dangling", "missingPaths");
    // 6 to 9: files.
    row("6 file in an ignored location", "/usr/bin/example-tool", "ignoredFiles");
    row("7 file shared with an unselected package", "/Library/Shared Stuff/common.dat", "sharedFiles", true, false,
        {kOther});
    row("7 file shared with a kept-out package", "/Library/Shared Stuff/kept.dat", "sharedFiles", true, false,
        {kKeptOut});
    row("8 protected file", kKextInfo, "protectedPaths", true, true);
    row("8 protected file, protection off", kKextInfo, "removeFiles", false, true);
    row("9 plain file", kExample + "/plain.dat", "removeFiles");
    // A path two selected packages list is planned once, whatever their
    // order: selected packages do not protect each other.
    row("9 file shared only with a selected package", kExample + "/both.dat", "removeFiles");
    row("9 the same, selected the other way round", kExample + "/both.dat", "removeFiles", true, false, {},
        {kSecond, kSelected});
    row("7 the same, its partner not selected", kExample + "/both.dat", "sharedFiles", true, false, {kSelected},
        {kSecond});
    row("9 link to a folder is a file", kExample + "/DataLink", "removeFiles");
}

void PlannerTest::classification()
{
    QFETCH(QString, path);
    QFETCH(QString, list);
    QFETCH(bool, rootless);
    QFETCH(bool, needsProtection);
    QFETCH(QStringList, usedBy);
    QFETCH(QStringList, selection);

    const Catalogue catalogue = write(classificationCases(), {kKextInfo, kKext});
    if (needsProtection && m_protected.size() != 2)
        QSKIP("setting the immutable flag needs root (CAP_LINUX_IMMUTABLE) and a file system that keeps it");
    QVERIFY(catalogue.filesForPackage(kSelected).contains(path));

    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, selection), catalogue, rootless);
    QCOMPARE(listsHolding(plan, path), list.isEmpty() ? QStringList() : QStringList{list});
    for (const SharedFile &file : plan.sharedFiles) {
        if (file.path.toString() == path)
            QCOMPARE(file.usedBy, usedBy);
    }
}

// The user's own receipt speaks only for the home folder, a system one for
// anything; a path that an unselected package lists too is another's.
void PlannerTest::receiptsSpeakForWhatTheirKindMay()
{
    QVERIFY(platform::Volume::configure(m_volume->root(), m_volume->home()));
    Catalogue catalogue;
    const quint32 system = catalogue.addPackage("com.x.system");
    const quint32 user = catalogue.addPackage("com.x.user", true);
    const quint32 other = catalogue.addPackage("com.x.other");
    const QString home = m_volume->home();
    const auto listed = [&](const QString &path, QList<quint32> packages) {
        Catalogue::PathId id = 0;
        for (const quint32 package : packages)
            id = catalogue.addFile(path, package);
        return id;
    };
    const Catalogue::PathId userOutside = listed("/Library/Mine/x", {user});
    const Catalogue::PathId userInside = listed(home + "/Library/Mine/y", {user});
    const Catalogue::PathId systemAnywhere = listed("/Library/Sys/z", {system});
    const Catalogue::PathId shared = listed("/Library/Shared/s", {system, other});
    const Catalogue::PathId bothKinds = listed("/Library/Both/b", {user, system});
    const IgnoredLocations ignored({});
    const RemovalRules rules(catalogue, {"com.x.system", "com.x.user"}, ignored, platform::Volume::current());
    const auto justified = [&](Catalogue::PathId id) {
        return rules.justifiedBySelection(id, platform::volumePath(catalogue.path(id)).value());
    };
    QVERIFY(!justified(userOutside));
    QVERIFY(justified(userInside) && justified(systemAnywhere) && justified(shared) && justified(bothKinds));
    QVERIFY(rules.listedByOthers(shared));
    QVERIFY(!rules.listedByOthers(userOutside) && !rules.listedByOthers(bothKinds));
    QCOMPARE(rules.others(shared), QStringList{"com.x.other"});
    const RemovalRules userOnly(catalogue, {"com.x.user"}, ignored, platform::Volume::current());
    QVERIFY(!userOnly.justifiedBySelection(bothKinds, platform::volumePath(u"/Library/Both/b").value()));
    QVERIFY(userOnly.listedByOthers(bothKinds) && !userOnly.listedByOthers(userInside));
}

void PlannerTest::ignoreTests_data()
{
    QTest::addColumn<QStringList>("setting");   // empty list: the default setting
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("list");

    const QStringList defaults = Settings::defaultIgnoredSystemFolders();
    QStringList withoutUsrBin = defaults;
    withoutUsrBin.removeAll("/usr/bin/");
    const QStringList custom = defaults + QStringList{"/opt/vendor/", "~/Library/Keep"};

    QTest::newRow("default: file in /usr/bin") << defaults << "/usr/bin/tool" << "ignoredFiles";
    QTest::newRow("default: /usr/bin itself") << defaults << "/usr/bin" << "";
    // The user's list can only add: a fixed folder taken out stays ignored.
    QTest::newRow("without /usr/bin/: its file still") << withoutUsrBin << "/usr/bin/tool" << "ignoredFiles";
    QTest::newRow("without /usr/bin/: /usr/bin itself") << withoutUsrBin << "/usr/bin" << "";
    QTest::newRow("empty setting: /usr/bin itself") << QStringList{""} << "/usr/bin" << "";
    QTest::newRow("user entry: file inside") << custom << "/opt/vendor/x" << "ignoredFiles";
    QTest::newRow("user entry: the folder") << custom << "/opt/vendor" << "";
    QTest::newRow("user entry: a longer name is not inside") << custom << "/opt/vendorish/y" << "removeFiles";
    QTest::newRow("user entry spelled loosely") << (defaults + QStringList{"/opt//vendor/./"}) << "/opt/vendor/x"
                                                << "ignoredFiles";
    QTest::newRow("user entry with ~ and no slash") << custom << "~/Library/Keep/file" << "ignoredFiles";
    QTest::newRow("user entry with ~: the folder") << custom << "~/Library/Keep" << "";
    QTest::newRow("not in the default") << defaults << "/opt/vendor/x" << "removeFiles";
    QTest::newRow("user entry \"/\": everything") << (defaults + QStringList{"/"}) << "/opt/vendor/x" << "ignoredFiles";
    QTest::newRow("user entry in capitals") << (defaults + QStringList{"/OPT/Vendor"}) << "/opt/vendor/x"
                                            << "ignoredFiles";
    QTest::newRow("user entry beyond ASCII, other case")
        << (defaults + QStringList{QStringLiteral("/\u00f6lwerk")}) << QStringLiteral("/\u00d6lwerk/datei") << "ignoredFiles";
    QTest::newRow("beyond ASCII, not in the default") << defaults << QStringLiteral("/\u00d6lwerk/datei") << "removeFiles";
}

void PlannerTest::ignoreTests()
{
    QFETCH(QStringList, setting);
    QFETCH(QString, path);
    QFETCH(QString, list);
    path = expand(path);

    // An entry "" stands for a setting the user emptied completely.
    kestrum::DefaultsKey(Settings::kIgnoredSystemFolders)
        .setDefaultArray(setting == QStringList{""} ? QStringList() : setting);
    const QString home = m_volume->home();
    const Catalogue catalogue = write({package("com.example.tools", {
        PathItem::file("/usr/bin/tool", 10),
        PathItem::file("/opt/vendor/x", 10),
        PathItem::file("/opt/vendorish/y", 10),
        PathItem::file(home + "/Library/Keep/file", 10),
        PathItem::file(QStringLiteral("/\u00d6lwerk/datei"), 10),
    })});
    QVERIFY(catalogue.filesForPackage("com.example.tools").contains(path));
    const UninstallPlan plan = UninstallPlanner::plan(catalogue.installerPackages, catalogue, true);
    QCOMPARE(listsHolding(plan, path), list.isEmpty() ? QStringList() : QStringList{list});
}

void PlannerTest::generatedItems_data()
{
    QTest::addColumn<QString>("appName");
    QTest::addColumn<QString>("bundleIdentifier");
    QTest::addColumn<QStringList>("present");    // made on the volume
    QTest::addColumn<QStringList>("expected");   // removeGenerated

    const QStringList byIdentifier{
        "~/Library/Containers/com.example.quill",
        "~/Library/Caches/com.example.quill",
        "~/Library/com.example.quill",
        "~/Library/Application Support/com.example.quill",
        "~/Library/Saved Application State/com.example.quill.savedState",
        "~/Library/Logs/com.example.quill",
        "/Library/Caches/com.example.quill",
        "/Library/com.example.quill",
        "/Library/Application Support/com.example.quill",
        "/Library/Logs/com.example.quill",
        "~/Library/Preferences/com.example.quill.plist",
        "~/Library/Preferences/com.example.quill.plist.lockfile",
        "/Library/Preferences/com.example.quill.plist",
        "/Library/Preferences/com.example.quill.plist.lockfile",
    };
    const auto byName = [](const QString &n) {
        return QStringList{
            "~/Library/Application Support/" + n, "~/Library/Preferences/" + n,
            "~/Library/Preferences/" + n + " Preferences", "~/Library/Logs/" + n, "~/Library/Caches/" + n,
            "/Library/Application Support/" + n, "/Library/Preferences/" + n,
            "/Library/Preferences/" + n + " Preferences", "/Library/Logs/" + n, "/Library/Caches/" + n,
            "~/Library/" + n, "/Library/" + n,
        };
    };
    const auto row = [](const char *name, const QString &appName, const QString &bundleIdentifier,
                        const QStringList &present, const QStringList &expected) {
        QTest::newRow(name) << appName << bundleIdentifier << present << expected;
    };
    QStringList reversed = byIdentifier;
    std::reverse(reversed.begin(), reversed.end());
    row("fourteen bundle-identifier places, in order", "Quill", "com.example.quill", reversed, byIdentifier);
    row("twelve name places, in order", "Quill", "com.example.quill", byName("Quill"), byName("Quill"));
    row("Fonts is a Library folder", "Fonts", "com.example.fonts", byName("Fonts"), byName("Fonts").mid(0, 10));
    row("bundle identifier before name", "Quill", "com.example.quill",
        {"~/Library/Application Support/Quill", "~/Library/Preferences/com.example.quill.plist"},
        {"~/Library/Preferences/com.example.quill.plist", "~/Library/Application Support/Quill"});
    row("nothing there", "Quill", "com.example.quill", {}, {});
    // Names that would make the Library folder itself an item.
    row("name '..'", "..", "com.example.dots", {"~/Library/Caches/other"}, {});
    row("name of slashes", "//", "com.example.slashes", {"~/Library/Caches/other"}, {});
    row("bundle identifier named like a Library folder", "Quill", "Preferences", {"~/Library/Preferences/other.plist"},
        {});
}

void PlannerTest::generatedItems()
{
    QFETCH(QString, appName);
    QFETCH(QString, bundleIdentifier);
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);

    for (const QString &path : present)
        m_volume->builder.addFile(expand(path), "x");
    Package item = package("com.example.app", {});
    item.applications = {app("/Applications/Quill.app", appName, bundleIdentifier)};
    const Catalogue catalogue = write({item});
    QCOMPARE(catalogue.installerPackages.first().appNames(), QStringList{appName});
    QCOMPARE(catalogue.installerPackages.first().appBuIDs(), QStringList{bundleIdentifier});

    const UninstallPlan plan = UninstallPlanner::plan(catalogue.installerPackages, catalogue, true);
    QStringList expanded;
    for (const QString &path : expected)
        expanded << expand(path);
    QCOMPARE(platform::toStrings(plan.removeGenerated), expanded);
    QCOMPARE(platform::toStrings(plan.removeRemaining), QStringList{"/Applications/Quill.app"});
}

// The application folders: those that exist, not made unique, a protected
// one dropped without being listed as protected.
void PlannerTest::applicationFolders()
{
    Package first = package("com.example.first", {});
    AppBundle gone = app("/Applications/Gone.app", "Gone", "com.example.gone");
    gone.onDisk = false;
    first.applications = {app("/Applications/Here.app", "Here", "com.example.here"), gone,
                          app("/Applications/Locked.app", "Locked", "com.example.locked")};
    Package second = package("com.example.second", {});
    second.applications = {app("/Applications/Here.app", "Here", "com.example.here")};
    const Catalogue catalogue = write({first, second}, {"/Applications/Locked.app"});

    const QList<PackageRecord> both = select(catalogue, {"com.example.first", "com.example.second"});
    const UninstallPlan unprotected = UninstallPlanner::plan(both, catalogue, false);
    QCOMPARE(platform::toStrings(unprotected.removeRemaining),
             (QStringList{"/Applications/Here.app", "/Applications/Locked.app", "/Applications/Here.app"}));

    if (m_protected.isEmpty())
        QSKIP("setting the immutable flag needs root (CAP_LINUX_IMMUTABLE) and a file system that keeps it");
    const UninstallPlan plan = UninstallPlanner::plan(both, catalogue, true);
    QCOMPARE(platform::toStrings(plan.removeRemaining), (QStringList{"/Applications/Here.app", "/Applications/Here.app"}));
    QVERIFY(platform::toStrings(plan.protectedPaths).contains("/Applications/Locked.app"));   // the bill's folder entry
}

void PlannerTest::overlapDropsGeneratedItems_data()
{
    QTest::addColumn<QStringList>("selection");
    QTest::addColumn<bool>("overlaps");
    QTest::newRow("lender not selected") << QStringList{"com.example.borrower"} << true;
    QTest::newRow("lender selected too") << QStringList{"com.example.borrower", "com.example.lender"} << false;
}

void PlannerTest::overlapDropsGeneratedItems()
{
    QFETCH(QStringList, selection);
    QFETCH(bool, overlaps);

    Package borrower = package("com.example.borrower", {});
    AppBundle shared = app("/Applications/Shared.app", "Shared", "com.example.shared");
    shared.generated = volumegen::kTypicalGeneratedItems;
    borrower.applications = {shared};
    const Package lender = package("com.example.lender", {PathItem::folder("/Applications/Shared.app")});
    const Catalogue catalogue = write({borrower, lender});

    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, selection), catalogue, true);
    const QString warning = QStringLiteral("Warning: we are not removing generated or remaining files for the "
                                           "package com.example.borrower because it seems that other packages are "
                                           "overlapping.");
    QCOMPARE(wasLogged(kestrum::LogWarning, warning), overlaps);
    if (overlaps) {
        QVERIFY(plan.removeGenerated.isEmpty());
        QVERIFY(plan.removeRemaining.isEmpty());
        QCOMPARE(listsHolding(plan, "/Applications/Shared.app"), QStringList());
    } else {
        QVERIFY(platform::toStrings(plan.removeGenerated).contains(expand("~/Library/Preferences/com.example.shared.plist")));
        QVERIFY(platform::toStrings(plan.removeGenerated).contains(expand("~/Library/Application Support/Shared")));
        QCOMPARE(platform::toStrings(plan.removeRemaining), QStringList{"/Applications/Shared.app"});
        QCOMPARE(listsHolding(plan, "/Applications/Shared.app"), QStringList{"removeFolders"});
    }
    // Its own files are planned either way.
    QCOMPARE(listsHolding(plan, "/Applications/Shared.app/Contents/Info.plist"), QStringList{"removeFiles"});
}

void PlannerTest::sizesDoNotFollowLinks()
{
    const QString big = QStringLiteral("/opt/big/huge.bin");
    m_volume->builder.addSparseFile(big, 50 << 20);
    const Catalogue catalogue = write({
        package("com.example.sizes", {
            PathItem::file("/opt/sizes/a.dat", 5000),
            PathItem::link("/opt/sizes/link-to-a", "a.dat"),
            PathItem::link("/opt/sizes/link-to-big", big),
            PathItem::folder("/opt/sizes/folder"),
            missingFile("/opt/sizes/gone.dat"),
            PathItem::file("/usr/bin/sizes-tool", 300),
            PathItem::link("/usr/bin/sizes-link", big),
            PathItem::file("/opt/shared/s.dat", 700),
            PathItem::link("/opt/shared/s-link", big),
        }),
        package("com.example.sizes.other", {
            PathItem::file("/opt/shared/s.dat", 700),
            PathItem::link("/opt/shared/s-link", big),
        }),
    });
    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, {"com.example.sizes"}), catalogue, true);
    QCOMPARE(plan.removeFiles.size(), 3);
    QCOMPARE(plan.sizes.removeBytes, quint64(5000 + 5 + big.size()));
    QCOMPARE(plan.sizes.ignoredBytes, quint64(300 + big.size()));
    QCOMPARE(plan.sizes.sharedBytes, quint64(700 + big.size()));
}

void PlannerTest::progressLines()
{
    const Catalogue catalogue = write({
        package("com.example.one", {PathItem::folder("/opt/one"), PathItem::file("/opt/one/a", 1),
                                    missingFile("/opt/one/b")}),
        package("com.example.two", {PathItem::file("/opt/one/a", 1)}),
    });
    QStringList lines;
    UninstallPlanner::plan(select(catalogue, {"com.example.one", "com.example.two"}), catalogue, true,
                           [&lines](const QString &detail) { lines << detail; });
    // "/opt" and "/opt/one" are folders and get no line; "a" is planned once.
    QCOMPARE(lines, (QStringList{
                        "Adding files from package: com.example.one",
                        "Adding files from package: com.example.two",
                        "Adding generated files by: com.example.one",
                        "Adding generated files by: com.example.two",
                        "Adding file: a",
                        "Adding file: b",
                        QStringLiteral("Wrapping up\u2026"),
                    }));
}

// Past a few thousand paths the planner works on stretches side by side;
// joined, they make the lists, sizes and lines of one pass, in list order.
void PlannerTest::longListsKeepTheirOrder()
{
    QList<PathItem> items{PathItem::folder("/opt/long")};
    QSet<QString> gone;
    quint64 bytes = 0;
    const QString shared = QStringLiteral("/opt/long/1/f05000");
    for (int i = 0; i < 10000; ++i) {
        const QString folder = QStringLiteral("/opt/long/%1").arg(i / 3000);
        if (i % 3000 == 0)
            items << PathItem::folder(folder);
        const QString path = folder + QStringLiteral("/f%1").arg(i, 5, 10, QLatin1Char('0'));
        items << (i % 97 == 5 ? missingFile(path) : PathItem::file(path, quint64(10 + i)));
        if (i % 97 == 5)
            gone << path;
        else if (path != shared)
            bytes += quint64(10 + i);
    }
    const Catalogue catalogue = write({package("com.example.long", items),
                                       package("com.example.long.other", {PathItem::file(shared, 5010)})});
    QStringList files, missing, lines;
    for (const QString &path : catalogue.filesForPackage("com.example.long")) {
        if (!path.contains("/f"))
            continue;
        lines << "Adding file: " + path.section('/', -1);
        if (path != shared)
            (gone.contains(path) ? missing : files) << path;
    }
    QCOMPARE(files.size() + missing.size(), 9999);
    QStringList reported;
    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, {"com.example.long"}), catalogue, true,
                                                      [&reported](const QString &detail) { reported << detail; });
    QCOMPARE(platform::toStrings(plan.removeFiles), files);
    QCOMPARE(platform::toStrings(plan.missingPaths), missing);
    QCOMPARE(plan.sharedFiles.size(), 1);
    QCOMPARE(plan.sharedFiles.first().path.toString(), shared);
    QCOMPARE(plan.sizes.removeBytes, bytes);
    QCOMPARE(plan.sizes.sharedBytes, quint64(5010));
    QCOMPARE(reported.size(), lines.size() + 3);
    QCOMPARE(reported.mid(2, lines.size()), lines);
}

void PlannerTest::treeHeadingsAndCounts()
{
    UninstallPlan plan;
    plan.removeGenerated = platform::volumePaths({"/Users/u/Library/Caches/x"});
    plan.removeRemaining = platform::volumePaths({"/Applications/X.app/", "/Applications/Y.app/"});
    plan.removeFiles = platform::volumePaths({"/a", "/b", "/c"});
    plan.sizes.removeBytes = 1572864;   // 1.5 MB
    plan.ignoredFiles = platform::volumePaths({"/usr/bin/x"});
    plan.sizes.ignoredBytes = 209716;   // 0.2 MB
    plan.sharedFiles = {{platform::volumePath(u"/s").value(), {"com.a", "com.b"}}};
    plan.sizes.sharedBytes = 10 * 1048576 + 943718;   // 10.9 MB
    plan.missingPaths = platform::volumePaths({"/m1", "/m2"});
    plan.protectedPaths = platform::volumePaths({"/p"});
    plan.removeFolders = platform::volumePaths({"/folder"});

    const QList<PlanSection> tree = PlanTree::build(plan);
    const QList<PlanSection> expected{
        {QStringLiteral("\u2022 Generated files/folders that will be removed if 'Advanced Options -> Delete generated "
                        "files' is checked"),
         platform::toStrings(plan.removeGenerated)},
        {QStringLiteral("\u2022 Applications folders that will be removed if 'Advanced Options -> Remove app "
                        "completely' is checked"),
         platform::toStrings(plan.removeRemaining)},
        {QStringLiteral("\u2022 Files that will be removed (3 files @ 1.5 MB)"), platform::toStrings(plan.removeFiles)},
        {QStringLiteral("\u2022 Files that will not be removed because they are installed into ignored locations (1 "
                        "files @ 0.2 MB)"),
         platform::toStrings(plan.ignoredFiles)},
        {QStringLiteral("\u2022 Files that will not be removed because they are used by other packages (1 files @ "
                        "10.9 MB)"),
         {"/s  (also used by: com.a, com.b)"}},
        {QStringLiteral("\u2022 Files/folders that have already been removed (2 files)"), platform::toStrings(plan.missingPaths)},
        {QStringLiteral("\u2022 Files/folders that can not be removed because they are protected by Apple's 'System "
                        "Integrity Protection' (1 files)"),
         platform::toStrings(plan.protectedPaths)},
    };
    QCOMPARE(tree, expected);

    // Empty lists leave their sections out; the others keep their order.
    plan.removeGenerated.clear();
    plan.ignoredFiles.clear();
    plan.protectedPaths.clear();
    const QList<PlanSection> partial = PlanTree::build(plan);
    QCOMPARE(partial, (QList<PlanSection>{expected.at(1), expected.at(2), expected.at(4), expected.at(5)}));

    // The node form the sheet and the JSON take.
    QVERIFY(plan.uninstallFilesNodes().isEmpty());   // the plan's own tree was never built here
    plan.uninstallFiles = partial;
    const QVariantMap first = plan.uninstallFilesNodes().first().toMap();
    QCOMPARE(first.value("name").toString(), expected.at(1).name);
    QCOMPARE(first.value("children").toList().size(), 2);
    QCOMPARE(first.value("children").toList().at(1).toMap().value("name").toString(),
             QStringLiteral("/Applications/Y.app"));   // made once, so in its clean form
}

// The planner's own tree follows its lists, with the sizes it counted; an
// empty selection gives an empty plan.
void PlannerTest::treeOfThePlannedVolume()
{
    const Catalogue catalogue = write(classificationCases(), {kKextInfo, kKext});
    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, {kSelected, kSecond}), catalogue, true);
    QCOMPARE(plan.uninstallFiles, PlanTree::build(plan));
    QStringList headings;
    for (const PlanSection &section : plan.uninstallFiles)
        headings << section.name;
    // 1234 + 500 + 4 bytes; "Data" is the link's own text.
    QCOMPARE(headings.first(), QStringLiteral("\u2022 Files that will be removed (3 files @ 0.0 MB)"));
    QCOMPARE(plan.sizes.removeBytes, quint64(1234 + 500 + 4));
    QVERIFY(headings.contains(QStringLiteral(
        "\u2022 Files that will not be removed because they are used by other packages (2 files @ 0.0 MB)")));
    QVERIFY(headings.contains(QStringLiteral("\u2022 Files/folders that have already been removed (3 files)")));
    // Nothing selected: nothing planned, not even a tree.
    QCOMPARE(UninstallPlanner::plan({}, catalogue, true), UninstallPlan());
}

// The planner's guarantees for every selection under three settings: no
// removed path that an unselected package lists, that is ignored or that is
// protected; every listed path in one list at most, and one in none is a
// folder kept on purpose. Fails too when it had few removable paths to check.
void PlannerTest::checkInvariants(const Catalogue &catalogue, const QList<QStringList> &selections)
{
    int removable = 0;
    const QList<QStringList> settings{
        Settings::defaultIgnoredSystemFolders(),
        QStringList(),
        {"/Library/Application Support/", "/usr/local/share/"},
    };
    for (const QStringList &setting : settings) {
        kestrum::DefaultsKey(Settings::kIgnoredSystemFolders).setDefaultArray(setting);
        QStringList ignoredFolders;
        for (const QString &entry : setting + Settings::defaultIgnoredSystemFolders())
            ignoredFolders << platform::volumePath(entry).value().toString();
        const auto isIgnored = [&](const QString &path) {
            return std::any_of(ignoredFolders.cbegin(), ignoredFolders.cend(), [&](const QString &folder) {
                return path == folder || path.startsWith(folder + '/');
            });
        };

        for (const QStringList &identifiers : selections) {
            const QString context = identifiers.join(' ') + " with " + setting.join(' ');
            const QSet<QString> selected(identifiers.cbegin(), identifiers.cend());
            const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, identifiers), catalogue, true);

            for (const QString &path : platform::toStrings(plan.removeFiles) + platform::toStrings(plan.removeFolders)) {
                for (const QString &user : catalogue.packagesForFile(path))
                    QVERIFY2(selected.contains(user), qPrintable(path + " is used by " + user + ": " + context));
                QVERIFY2(!isIgnored(path), qPrintable(path + " is ignored: " + context));
                QVERIFY2(!kestrum::fileIsRestricted(path), qPrintable(path + " is protected: " + context));
                ++removable;
            }
            for (const QString &path : platform::toStrings(plan.removeFolders)) {
                const auto attributes = itemStatus(path);
                QVERIFY2(attributes && attributes->isDirectory(), qPrintable(path + " is no folder: " + context));
            }
            for (const QString &path : platform::toStrings(plan.removeFiles))
                QVERIFY2(kestrum::fileExists(path), qPrintable(path + " is gone: " + context));
            for (const QString &path : platform::toStrings(plan.missingPaths))
                QVERIFY2(!kestrum::fileExists(path), qPrintable(path + " exists: " + context));
            for (const QString &path : platform::toStrings(plan.removeRemaining))
                QVERIFY2(!kestrum::fileIsRestricted(path), qPrintable(path + " is protected: " + context));

            // Each path once at most; one in no list is a real folder kept on purpose.
            QSet<QString> listed;
            for (const QString &identifier : identifiers)
                for (const QString &path : catalogue.filesForPackage(identifier))
                    listed.insert(path);
            for (const QString &path : std::as_const(listed)) {
                const QStringList lists = listsHolding(plan, path);
                QVERIFY2(lists.size() <= 1, qPrintable(path + " in " + lists.join(", ") + ": " + context));
                if (!lists.isEmpty())
                    continue;
                const auto attributes = itemStatus(path);
                QVERIFY2(attributes && attributes->isDirectory(), qPrintable(path + " is in no list: " + context));
                QStringList users = catalogue.packagesForFile(path);
                users.removeIf([&](const QString &user) { return selected.contains(user); });
                QVERIFY2(isIgnored(path) || !users.isEmpty(), qPrintable(path + " dropped: " + context));
            }
        }
    }
    QVERIFY(removable > 100);
}

void PlannerTest::neverRemovesWhatItMustKeep()
{
    // The demo's home; the fixture of init() goes first, since a fixture
    // resets the volume mapping when it ends.
    m_volume.reset();
    m_volume = std::make_unique<BuiltVolume>(QStringLiteral("/Users/demo"));
    volumegen::VolumeOptions options;
    options.protect = true;
    volumegen::VolumeStats stats;
    QString error;
    QVERIFY2(volumegen::buildDemoVolume(m_volume->root(), options, &stats, &error), qPrintable(error));
    m_protected = stats.protectedPaths;
    const Catalogue catalogue = CatalogueScanner::scan(kMinus).value_or(Catalogue());
    QVERIFY(catalogue.installerPackages.size() > 20);

    QList<QStringList> selections;
    QStringList everything;
    for (const PackageRecord &record : catalogue.installerPackages) {
        selections << QStringList{record.packageIdentifier()};
        everything << record.packageIdentifier();
    }
    selections << everything
               << QStringList{"com.northwind.pkg.Ledger", "com.northwind.pkg.LedgerSync"}
               << QStringList{"org.tessellate.pkg.Core", "org.tessellate.pkg.Studio"}
               << QStringList{"com.oakum.pkg.cli", "com.oakum.pkg.completions"}
               << QStringList{"com.brambleworks.Quire", "com.brambleworks.plistkit"}
               << QStringList{"com.northwind.pkg.Ledger", "com.saltmarsh.Tide", "io.halcyonlabs.Drift"};

    checkInvariants(catalogue, selections);
    if (QTest::currentTestFailed())
        return;

    // The demo's protected driver: shown as protected, never removed.
    if (m_protected.isEmpty())
        QSKIP("setting the immutable flag needs root (CAP_LINUX_IMMUTABLE) and a file system that keeps it");
    kestrum::DefaultsKey(Settings::kIgnoredSystemFolders).setDefaultArray(Settings::defaultIgnoredSystemFolders());
    const QStringList driver{"com.northwind.pkg.AudioDriver"};
    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, driver), catalogue, true);
    for (const QString &path : volumegen::demoProtectedPaths()) {
        if (path.startsWith("/Library/Extensions/"))
            QVERIFY2(platform::toStrings(plan.protectedPaths).contains(path), qPrintable(path));
    }
}

void PlannerTest::invariantsHoldOnGeneratedVolumesWithTraps_data()
{
    QTest::addColumn<quint32>("seed");
    for (const quint32 seed : {2u, 3u, 4u})
        QTest::addRow("seed %u", seed) << seed;
}

// Generated volumes of several seeds, with the traps a hostile receipt or
// disk may set: install prefixes that climb or double their slashes onto
// another package's files, a user receipt that climbs out of the home, a
// home given with a trailing slash, and a package folder that is a link
// out of the volume.
void PlannerTest::invariantsHoldOnGeneratedVolumesWithTraps()
{
    QFETCH(quint32, seed);
    volumegen::LargeVolumeOptions options;
    options.seed = seed;
    options.packages = 24;
    options.paths = 3000;
    options.home = m_volume->home();
    volumegen::populateLargeVolume(m_volume->builder, options);
    Package base = package("com.example.trap.base", {PathItem::folder("/opt/trap"), PathItem::file("/opt/trap/tool", 10),
                                                     PathItem::file("/usr/bin/trap", 10)});
    m_volume->builder.addReceipt(base);
    QStringList traps;
    for (const char *prefix : {"opt/..", "//", "Applications/../."}) {
        Package trap = package(QStringLiteral("com.example.trap.%1").arg(traps.size()), {});
        trap.prefix = QString::fromLatin1(prefix);
        for (const char *path : {"opt/trap", "opt/trap/tool", "usr/bin/trap", "usr/bin", "usr"}) {
            PathItem listed = QByteArray(path).contains("trap") && !QByteArray(path).endsWith("trap")
                                  ? PathItem::file(QString::fromLatin1(path), 10)
                                  : PathItem::folder(QString::fromLatin1(path));
            listed.onDisk = false;
            trap.paths << listed;
        }
        m_volume->builder.addReceipt(trap);
        traps << trap.identifier;
    }
    Package climber = package("com.example.trap.user", {missingFile("Library/x")});
    climber.location = Package::User;
    climber.prefix = "../../..";
    m_volume->builder.addReceipt(climber);
    Package linked = package("com.example.trap.linked", {missingFile("/Library/Outside/secret")});
    m_volume->builder.addReceipt(linked);
    QString error;
    QVERIFY2(m_volume->builder.write(&error), qPrintable(error));
    QVERIFY(QFile::link(QDir::tempPath(), m_volume->physical("/Library/Outside")));
    QVERIFY(platform::Volume::configure(m_volume->root(), m_volume->home() + "/"));

    const Catalogue catalogue = CatalogueScanner::scan(kMinus).value_or(Catalogue());
    QVERIFY(catalogue.installerPackages.size() > 24);
    QList<QStringList> selections;
    for (const PackageRecord &record : catalogue.installerPackages)
        selections << QStringList{record.packageIdentifier()};
    selections << traps;
    checkInvariants(catalogue, selections);
    if (QTest::currentTestFailed())
        return;
    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, traps), catalogue, true);
    QVERIFY(plan.removeFiles.isEmpty() && plan.removeFolders.isEmpty());
    QCOMPARE(catalogue.filesForPackage("com.example.trap.user").constLast(), m_volume->home() + "/Library/x");
    QCOMPARE(platform::toStrings(UninstallPlanner::plan(select(catalogue, {"com.example.trap.linked"}), catalogue, true).missingPaths),
             QStringList{"/Library/Outside/secret"});
}

void PlannerTest::oddSpellingsNeverReachTheRemovalLists_data()
{
    QTest::addColumn<QString>("prefix");
    for (const char *prefix : {"Applications/..", "./", ".", "//", "/./", "/Library/../"})
        QTest::newRow(prefix) << QString::fromLatin1(prefix);
}

// A receipt that spells its install folder oddly names the same places as
// the base system's receipt; the system's files stay ignored and shared
// whatever the spelling, and so does the home folder given with a slash.
void PlannerTest::oddSpellingsNeverReachTheRemovalLists()
{
    QFETCH(QString, prefix);
    const QStringList system{"bin", "bin/echo", "usr", "usr/bin", "usr/bin/tool", "private", "private/etc",
                             "private/etc/hosts", "Library", "Library/Shared", "Library/Shared/common.dat"};
    Package base = package("com.apple.pkg.BSD", {});
    Package hostile = package("com.example.hostile", {});
    for (const QString &path : system) {
        const bool folder = !path.contains('.') && path != "bin/echo" && path != "usr/bin/tool";
        base.paths << (folder ? PathItem::folder(path) : PathItem::file(path, 10));
        PathItem listed = folder ? PathItem::folder(path) : PathItem::file(path, 10);
        listed.onDisk = false;   // the base system wrote them; these are the same places
        hostile.paths << listed;
    }
    base.prefix = "/";
    hostile.prefix = prefix;
    m_volume->builder.addReceipt(base);
    m_volume->builder.addReceipt(hostile);
    QString error;
    QVERIFY2(m_volume->builder.write(&error), qPrintable(error));
    QVERIFY(platform::Volume::configure(m_volume->root(), m_volume->home() + "/"));
    const Catalogue catalogue = CatalogueScanner::scan(kMinus).value_or(Catalogue());
    const QStringList hostileFiles = catalogue.filesForPackage("com.example.hostile");
    QCOMPARE(hostileFiles, catalogue.filesForPackage("com.apple.pkg.BSD"));

    kestrum::DefaultsKey(Settings::kIgnoredSystemFolders).setDefaultArray(Settings::defaultIgnoredSystemFolders());
    const UninstallPlan plan = UninstallPlanner::plan(select(catalogue, {"com.example.hostile"}), catalogue, true);
    QVERIFY(plan.removeFiles.isEmpty());
    QVERIFY(plan.removeFolders.isEmpty());
    QCOMPARE(plan.sharedFiles.size(), 1);
    QCOMPARE(plan.sharedFiles.first().path.toString(), QStringLiteral("/Library/Shared/common.dat"));
    for (const QString &path : hostileFiles)
        QCOMPARE(platform::volumePath(path).value().toString(), path);   // already clean
}

QTEST_GUILESS_MAIN(PlannerTest)
#include "tst_planner.moc"
