#include "dorvane/Settings.h"

#include "dorvane/planning/SystemLists.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Log.h"
#include "platform/UserDefaults.h"

#include <QDateTime>

namespace dorvane::Settings {

using kestrum::DefaultsKey;

const QStringList &defaultIgnoredInstallers()
{
    static const QStringList list{
        QStringLiteral("App Store"),       QStringLiteral("OS X Installer"), QStringLiteral("Software Update"),
        QStringLiteral("SoftwareUpdateConfigData"), QStringLiteral("storeagent"), QStringLiteral("storedownloadd"),
        QStringLiteral("Xcode"),           QStringLiteral("softwareupdated"), QStringLiteral("systemmigrationd"),
    };
    return list;
}

const QStringList &defaultIgnoredSystemFolders()
{
    return SystemLists::fixedIgnoredFolders();
}

void registerDefaults()
{
    platform::UserDefaults::standard().registerDefaults({
        {QString::fromLatin1(kIgnoredInstallers), QVariant(defaultIgnoredInstallers()).toList()},
        {QString::fromLatin1(kIgnoredSystemFolders), QVariant(defaultIgnoredSystemFolders()).toList()},
        {QString::fromLatin1(kDeleteFolders), qint64(1)},
        {QString::fromLatin1(kDeleteGenerated), qint64(1)},
        {QString::fromLatin1(kDeleteDock), qint64(1)},
        {QString::fromLatin1(kDeleteRemaining), qint64(1)},
        {QString::fromLatin1(kKeepRemovedDays), qint64(kDefaultKeepRemovedDays)},
        {QString::fromLatin1(kLaunches), qint64(0)},
        {QString::fromLatin1(kUpdateCheckMenuIndex), qint64(2)},
    });
}

namespace {

struct Migration
{
    const char *list;
    const char *requiredEntry;
    const char *flag;
    const QStringList &(*defaults)();
    const char *logMessage;
};

const char kFoldersResetMessage[] =
    "Info: we resetted the ignored system folders because some important updates have been made, if you have "
    "made changes you need to re-apply them.";
const char kInstallersResetMessage[] =
    "Info: we resetted the ignored installers because some important updates have been made, if you have made "
    "changes you need to re-apply them.";

// Each repairs a stored list once, when it lacks an entry that later
// versions rely on.
const Migration kMigrations[] = {
    {kIgnoredSystemFolders, "/var/", kDidUpdate, defaultIgnoredSystemFolders, kFoldersResetMessage},
    {kIgnoredSystemFolders, "/sbin/", kDidUpdate2, defaultIgnoredSystemFolders, kFoldersResetMessage},
    {kIgnoredInstallers, "systemmigrationd", kDidUpdate3, defaultIgnoredInstallers, kInstallersResetMessage},
};

} // namespace

void runMigrations()
{
    for (const Migration &migration : kMigrations) {
        const DefaultsKey list(migration.list);
        const DefaultsKey flag(migration.flag);
        if (list.defaultStringArray().contains(QString::fromLatin1(migration.requiredEntry)) || flag.defaultInt() != 0)
            continue;
        list.setDefaultArray(migration.defaults());
        flag.setDefaultInt(1);
        kestrum::asl_NSLog(kestrum::LogWarning, QString::fromLatin1(migration.logMessage));
    }
}

void countLaunch()
{
    const DefaultsKey launches(kLaunches);
    launches.setDefaultInt(launches.defaultInt() + 1);
}

void recordLaunchDate()
{
    DefaultsKey(kLaunchDate).setDefaultObject(QDateTime::currentDateTimeUtc());
}

void resetToolTipDelay()
{
    DefaultsKey(kInitialToolTipDelay).setDefaultInt(1);
}

} // namespace dorvane::Settings
