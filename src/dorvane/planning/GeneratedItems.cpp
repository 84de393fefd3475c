#include "dorvane/planning/GeneratedItems.h"

#include "dorvane/planning/SystemLists.h"

namespace dorvane::GeneratedItems {

QStringList bundleIdentifierCandidates(const QString &b)
{
    QStringList candidates{
        QStringLiteral("~/Library/Containers/") + b,
        QStringLiteral("~/Library/Caches/") + b,
        QStringLiteral("~/Library/") + b,
        QStringLiteral("~/Library/Application Support/") + b,
        QStringLiteral("~/Library/Saved Application State/") + b + QStringLiteral(".savedState"),
        QStringLiteral("~/Library/Logs/") + b,
        QStringLiteral("/Library/Caches/") + b,
        QStringLiteral("/Library/") + b,
        QStringLiteral("/Library/Application Support/") + b,
        QStringLiteral("/Library/Logs/") + b,
        QStringLiteral("~/Library/Preferences/") + b + QStringLiteral(".plist"),
        QStringLiteral("~/Library/Preferences/") + b + QStringLiteral(".plist.lockfile"),
        QStringLiteral("/Library/Preferences/") + b + QStringLiteral(".plist"),
        QStringLiteral("/Library/Preferences/") + b + QStringLiteral(".plist.lockfile"),
    };
    // A bundle identifier is no folder name, but nothing stops an Info.plist
    // from saying "Preferences": the whole folder must not become an item.
    if (SystemLists::isStandardLibraryFolderName(b)) {
        candidates.removeAll(QStringLiteral("~/Library/") + b);
        candidates.removeAll(QStringLiteral("/Library/") + b);
    }
    return candidates;
}

QStringList applicationNameCandidates(const QString &n)
{
    QStringList candidates{
        QStringLiteral("~/Library/Application Support/") + n,
        QStringLiteral("~/Library/Preferences/") + n,
        QStringLiteral("~/Library/Preferences/") + n + QStringLiteral(" Preferences"),
        QStringLiteral("~/Library/Logs/") + n,
        QStringLiteral("~/Library/Caches/") + n,
        QStringLiteral("/Library/Application Support/") + n,
        QStringLiteral("/Library/Preferences/") + n,
        QStringLiteral("/Library/Preferences/") + n + QStringLiteral(" Preferences"),
        QStringLiteral("/Library/Logs/") + n,
        QStringLiteral("/Library/Caches/") + n,
    };
    if (!SystemLists::isStandardLibraryFolderName(n))
        candidates << QStringLiteral("~/Library/") + n << QStringLiteral("/Library/") + n;
    return candidates;
}

bool isUsableName(const QString &name)
{
    bool namesSomething = false;
    for (const QStringView part : QStringView(name).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == u"." || part == u"..")
            return false;
        namesSomething = true;
    }
    return namesSomething;
}

} // namespace dorvane::GeneratedItems
