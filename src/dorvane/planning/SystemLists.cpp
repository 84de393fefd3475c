#include "dorvane/planning/SystemLists.h"

#include "platform/NameFolding.h"

namespace dorvane::SystemLists {

const QStringList &fixedIgnoredFolders()
{
    static const QStringList list{
        QStringLiteral("/System/"),   QStringLiteral("/usr/share/"),   QStringLiteral("/usr/bin/"),
        QStringLiteral("/usr/sbin/"), QStringLiteral("/usr/lib/"),     QStringLiteral("/usr/include/"),
        QStringLiteral("/usr/libexec/"), QStringLiteral("/usr/standalone/"), QStringLiteral("/private/"),
        QStringLiteral("/var/"),      QStringLiteral("/tmp/"),         QStringLiteral("/etc/"),
        QStringLiteral("/bin/"),      QStringLiteral("/sbin/"),        QStringLiteral("/dev/"),
    };
    return list;
}

const QStringList &essentialPackages()
{
    static const QStringList list{
        QStringLiteral("com.apple.pkg.AdditionalEssentials"), QStringLiteral("com.apple.pkg.Essentials"),
        QStringLiteral("com.apple.pkg.BaseSystemBinaries"),   QStringLiteral("com.apple.pkg.BaseSystemResources"),
        QStringLiteral("com.apple.pkg.BSD"),
    };
    return list;
}

bool isEssentialPackage(QStringView identifier)
{
    return std::any_of(essentialPackages().cbegin(), essentialPackages().cend(),
                       [&](const QString &essential) { return platform::isSameName(essential, identifier); });
}

const QSet<QString> &standardLibraryFolderNames()
{
    static const QSet<QString> names{
        QStringLiteral("Accounts"),              QStringLiteral("Address Book Plug-Ins"),
        QStringLiteral("Application Scripts"),   QStringLiteral("Application Support"),
        QStringLiteral("Assistants"),            QStringLiteral("Audio"),
        QStringLiteral("Autosave Information"),  QStringLiteral("Bundles"),
        QStringLiteral("Caches"),                QStringLiteral("Calendars"),
        QStringLiteral("ColorPickers"),          QStringLiteral("Colors"),
        QStringLiteral("ColorSync"),             QStringLiteral("Components"),
        QStringLiteral("Compositions"),          QStringLiteral("Containers"),
        QStringLiteral("Contextual Menu Items"), QStringLiteral("Cookies"),
        QStringLiteral("CoreMediaIO"),           QStringLiteral("Desktop Pictures"),
        QStringLiteral("Developer"),             QStringLiteral("Dictionaries"),
        QStringLiteral("DirectoryServices"),     QStringLiteral("Documentation"),
        QStringLiteral("Extensions"),            QStringLiteral("Favorites"),
        QStringLiteral("Filesystems"),           QStringLiteral("FontCollections"),
        QStringLiteral("Fonts"),                 QStringLiteral("Frameworks"),
        QStringLiteral("Graphics"),              QStringLiteral("Group Containers"),
        QStringLiteral("Icons"),                 QStringLiteral("IdentityServices"),
        QStringLiteral("Image Capture"),         QStringLiteral("Input Methods"),
        QStringLiteral("Internet Plug-Ins"),     QStringLiteral("iTunes"),
        QStringLiteral("Java"),                  QStringLiteral("Keyboard Layouts"),
        QStringLiteral("Keychains"),             QStringLiteral("Kompositionen"),
        QStringLiteral("LaunchAgents"),          QStringLiteral("LaunchDaemons"),
        QStringLiteral("Logs"),                  QStringLiteral("Mail"),
        QStringLiteral("Mail Downloads"),        QStringLiteral("Managed Preferences"),
        QStringLiteral("Messages"),              QStringLiteral("Metadata"),
        QStringLiteral("Mobile Documents"),      QStringLiteral("MobileDevice"),
        QStringLiteral("MobileSafari"),          QStringLiteral("Modem Scripts"),
        QStringLiteral("OpenDirectory"),         QStringLiteral("PDF Services"),
        QStringLiteral("Perl"),                  QStringLiteral("PreferencePanes"),
        QStringLiteral("Preferences"),           QStringLiteral("Printers"),
        QStringLiteral("PrivilegedHelperTools"), QStringLiteral("PubSub"),
        QStringLiteral("Python"),                QStringLiteral("QuickLook"),
        QStringLiteral("QuickTime"),             QStringLiteral("Receipts"),
        QStringLiteral("Ruby"),                  QStringLiteral("Safari"),
        QStringLiteral("Sandbox"),               QStringLiteral("Saved Application State"),
        QStringLiteral("Screen Savers"),         QStringLiteral("ScriptingAdditions"),
        QStringLiteral("Scripts"),               QStringLiteral("Security"),
        QStringLiteral("Services"),              QStringLiteral("Sounds"),
        QStringLiteral("Speech"),                QStringLiteral("Spelling"),
        QStringLiteral("Spotlight"),             QStringLiteral("StartupItems"),
        QStringLiteral("StickiesDatabase"),      QStringLiteral("SyncedPreferences"),
        QStringLiteral("SystemProfiler"),        QStringLiteral("Updates"),
        QStringLiteral("User Pictures"),         QStringLiteral("Video"),
        QStringLiteral("VirtualBox"),            QStringLiteral("Voices"),
        QStringLiteral("WebKit"),                QStringLiteral("WebServer"),
        QStringLiteral("Widgets"),
    };
    return names;
}

bool isStandardLibraryFolderName(QStringView name)
{
    static const QSet<QString> folded = [] {
        QSet<QString> out;
        for (const QString &standard : standardLibraryFolderNames())
            out.insert(platform::foldedName(standard));
        return out;
    }();
    // "Fonts/" and "/Fonts" name the same folder once joined to a Library.
    const QList<QStringView> parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.size() == 1 && folded.contains(platform::foldedName(parts.first()));
}

} // namespace dorvane::SystemLists
