#pragma once

#include "platform/PropertyList.h"

#include <QByteArray>
#include <QDateTime>
#include <QFlags>
#include <QList>
#include <QString>
#include <QStringList>

namespace volumegen {

// One path that a package installed, as its bill of materials lists it.
struct PathItem
{
    enum Kind { File, Folder, Link };

    QString path;          // relative to the install folder, "/"-separated, no leading "/"
    Kind kind = File;
    quint64 size = 0;      // files: the bill's size and the file's length on disk (sparse)
    QString linkTarget;    // links: written as given, relative targets keep the volume closed
    bool onDisk = true;    // false: listed in the bill, but gone from the disk
    // Real content for a file; when set it decides the size. Without it the
    // file is a sparse run of zeros of `size` bytes.
    QByteArray contents;
    bool executable = false;
    // A logical path where the item really is when it was moved after the
    // installation (an application renamed from a hidden name, or moved out
    // of a temporary folder). Empty: where the bill puts it.
    QString movedTo;

    static PathItem folder(const QString &path) { return make(path, Folder); }
    static PathItem file(const QString &path, quint64 size)
    {
        PathItem item = make(path, File);
        item.size = size;
        return item;
    }
    static PathItem link(const QString &path, const QString &target)
    {
        PathItem item = make(path, Link);
        item.linkTarget = target;
        return item;
    }

private:
    static PathItem make(const QString &path, Kind kind)
    {
        PathItem item;
        item.path = path;
        item.kind = kind;
        return item;
    }
};

// Items an application leaves in the Library folders while it runs, where the
// uninstall planner looks for them.
enum class GeneratedItem {
    Preferences = 0x001,        // ~/Library/Preferences/<id>.plist
    PreferencesLock = 0x002,    // ~/Library/Preferences/<id>.plist.lockfile
    Caches = 0x004,             // ~/Library/Caches/<id>/
    Container = 0x008,          // ~/Library/Containers/<id>/ (sandboxed applications)
    SupportById = 0x010,        // ~/Library/Application Support/<id>/
    SupportByName = 0x020,      // ~/Library/Application Support/<name>/
    SavedState = 0x040,         // ~/Library/Saved Application State/<id>.savedState/
    LogsByName = 0x080,         // ~/Library/Logs/<name>/
    SystemCaches = 0x100,       // /Library/Caches/<id>/
    SystemPreferences = 0x200,  // /Library/Preferences/<id>.plist
    SystemSupport = 0x400,      // /Library/Application Support/<name>/
};
Q_DECLARE_FLAGS(GeneratedItems, GeneratedItem)
Q_DECLARE_OPERATORS_FOR_FLAGS(GeneratedItems)

inline constexpr GeneratedItems kTypicalGeneratedItems{0x001 | 0x004 | 0x020 | 0x040 | 0x080};

// An application bundle: Contents/Info.plist, Contents/PkgInfo,
// Contents/MacOS/<executable> and Contents/Resources, with an icon when one
// is named.
struct AppBundle
{
    QString path;                 // logical bundle path, "/Applications/Foo.app"
    QString name;                 // CFBundleName; empty: the key is left out
    QString bundleIdentifier;     // CFBundleIdentifier; empty: the key is left out
    QString version = QStringLiteral("1.0");
    QString executable;           // empty: the bundle's base name
    QString iconFile;             // CFBundleIconFile in Contents/Resources; empty: no icon
    quint64 executableSize = 2 << 20;
    quint64 resourcesSize = 0;    // spread over a few resource files
    bool onDisk = true;           // false: the bundle is gone (a defunct application)
    QString movedTo;              // logical bundle path where it really is; empty: `path`
    GeneratedItems generated;     // what the running application left in the Library folders
    QList<AppBundle> nested;        // helper applications inside Contents/Library/LoginItems
    platform::PropertyList::Format infoFormat = platform::PropertyList::Format::Xml;
};

// How a receipt or a bill comes out on disk.
enum class Damage {
    None,        // written as it should be
    Missing,     // not written at all
    Unopenable,  // bytes that no reader can open: not a property list, no "BOMStore" magic
    Corrupt,     // opens, but its content is wrong: a receipt that is an array, a bill
                 // with a valid header whose Paths tree points outside the file
};

// One installed package: its receipt, its bill and the paths it lists.
struct Package
{
    enum Location {
        System,   // /private/var/db/receipts/<name>.plist and .bom
        User,     // ~/Library/Receipts/<name>.plist and .bom, installed relative to the home folder
        Legacy,   // /Library/Receipts/<bundle>.pkg/Contents/Info.plist and Archive.bom
    };

    QString identifier;
    QString version = QStringLiteral("1.0");
    QString installProcessName = QStringLiteral("Installer");   // modern receipts only
    QString fileName;          // PackageFileName; empty: the identifier's last part + ".pkg"
    QString prefix = QStringLiteral("/");   // InstallPrefixPath, or IFPkgFlagDefaultLocation
    QString relocatedPrefix;   // legacy only: IFPkgRelocatedPath when set
    Location location = System;
    QList<PathItem> paths;
    QList<AppBundle> applications;   // added to `paths` by the builder, below the install folder
    QStringList packageGroups;     // PackageGroups, left out when empty
    QDateTime installDate;         // invalid: the builder's fixed date

    // Modern receipts: the file name without extension (empty: the
    // identifier). Legacy bundles: the bundle's name without ".pkg" (empty:
    // the file name's base).
    QString receiptName;
    // Legacy bundles only: the bill's path inside the bundle.
    QString legacyBillPath = QStringLiteral("Contents/Archive.bom");
    // Legacy only: leave CFBundleIdentifier out; CFBundleName then carries
    // the identifier, since that is what the store names the package by.
    bool legacyWithoutIdentifier = false;
    bool legacyWithoutName = false;         // legacy only: leave CFBundleName out

    Damage receiptDamage = Damage::None;
    Damage billDamage = Damage::None;
    platform::PropertyList::Format format = platform::PropertyList::Format::Binary;
    quint32 uid = 0;     // owner recorded in the bill
    quint32 gid = 80;    // admin
};

} // namespace volumegen
