#include "GeneratedFiles.h"

#include "SeededRandom.h"

#include <QDateTime>

namespace volumegen::GeneratedFiles {

namespace {

using platform::PropertyList::Format;

QByteArray preferences(const QString &bundleIdentifier, SeededRandom &random)
{
    const QVariantMap values{
        {QStringLiteral("NSWindow Frame MainWindow"),
         QStringLiteral("%1 %2 960 640 0 0 1680 1025 ").arg(random.below(400)).arg(random.below(300))},
        {QStringLiteral("LastLaunchDate"),
         QDateTime(QDate(2024, 1, 1), QTime(9, 0), Qt::UTC).addSecs(qint64(random.below(300 * 86400)))},
        {QStringLiteral("LaunchCount"), qint64(1 + random.below(500))},
        {QStringLiteral("SUEnableAutomaticChecks"), random.chance(0.5)},
        {QStringLiteral("ApplicationIdentifier"), bundleIdentifier},
    };
    return platform::PropertyList::toData(values, Format::Binary);
}

PathItem file(const QString &path, quint64 size)
{
    return PathItem::file(path, size);
}

PathItem text(const QString &path, const QByteArray &contents)
{
    PathItem item = PathItem::file(path, 0);
    item.contents = contents;
    return item;
}

} // namespace

QList<PathItem> paths(const QString &home, const QString &bundleIdentifier, const QString &appName,
                      GeneratedItems items)
{
    SeededRandom random(SeededRandom::hash(bundleIdentifier + QLatin1Char('/') + appName));
    const QString user = home + QStringLiteral("/Library/");
    const QString id = bundleIdentifier;
    QList<PathItem> out;
    auto folder = [&](const QString &path) { out << PathItem::folder(path); };

    if (items & GeneratedItem::Preferences)
        out << text(user + QStringLiteral("Preferences/") + id + QStringLiteral(".plist"), preferences(id, random));
    if (items & GeneratedItem::PreferencesLock)
        out << text(user + QStringLiteral("Preferences/") + id + QStringLiteral(".plist.lockfile"), QByteArray());
    if (items & GeneratedItem::Caches) {
        const QString base = user + QStringLiteral("Caches/") + id;
        folder(base);
        out << file(base + QStringLiteral("/Cache.db"), random.logUniform(64 << 10, 24 << 20));
        out << file(base + QStringLiteral("/Cache.db-wal"), random.logUniform(4 << 10, 4 << 20));
        folder(base + QStringLiteral("/fsCachedData"));
        for (int i = 0, n = 2 + int(random.below(6)); i < n; ++i)
            out << file(base + QStringLiteral("/fsCachedData/%1").arg(random.next(), 16, 16, QLatin1Char('0')).toUpper(),
                        random.logUniform(512, 2 << 20));
    }
    if (items & GeneratedItem::Container) {
        const QString base = user + QStringLiteral("Containers/") + id;
        folder(base);
        out << text(base + QStringLiteral("/.com.apple.containermanagerd.metadata.plist"),
                    platform::PropertyList::toData(QVariantMap{{QStringLiteral("MCMMetadataIdentifier"), id},
                                                               {QStringLiteral("MCMMetadataVersion"), qint64(6)}},
                                                   Format::Binary));
        folder(base + QStringLiteral("/Data"));
        folder(base + QStringLiteral("/Data/Documents"));
        folder(base + QStringLiteral("/Data/Library"));
        folder(base + QStringLiteral("/Data/Library/Preferences"));
        out << text(base + QStringLiteral("/Data/Library/Preferences/") + id + QStringLiteral(".plist"),
                    preferences(id, random));
        folder(base + QStringLiteral("/Data/Library/Caches"));
        out << file(base + QStringLiteral("/Data/Library/Caches/index.db"), random.logUniform(32 << 10, 8 << 20));
    }
    if (items & GeneratedItem::SupportById) {
        const QString base = user + QStringLiteral("Application Support/") + id;
        folder(base);
        out << file(base + QStringLiteral("/state.db"), random.logUniform(16 << 10, 16 << 20));
    }
    if (items & GeneratedItem::SupportByName) {
        const QString base = user + QStringLiteral("Application Support/") + appName;
        folder(base);
        out << text(base + QStringLiteral("/Settings.json"),
                    QStringLiteral("{\n  \"application\": \"%1\",\n  \"firstRun\": false\n}\n").arg(appName).toUtf8());
        folder(base + QStringLiteral("/Library"));
        out << file(base + QStringLiteral("/Library/Library.db"), random.logUniform(256 << 10, 96 << 20));
    }
    if (items & GeneratedItem::SavedState) {
        const QString base = user + QStringLiteral("Saved Application State/") + id + QStringLiteral(".savedState");
        folder(base);
        out << file(base + QStringLiteral("/data.data"), random.logUniform(1 << 10, 256 << 10));
        out << file(base + QStringLiteral("/windows.plist"), random.logUniform(512, 8 << 10));
    }
    if (items & GeneratedItem::LogsByName) {
        const QString base = user + QStringLiteral("Logs/") + appName;
        folder(base);
        out << text(base + QLatin1Char('/') + appName + QStringLiteral(".log"),
                    QStringLiteral("2024-03-02 10:14:07 %1 started\n2024-03-02 18:40:51 %1 quit\n").arg(appName).toUtf8());
    }
    if (items & GeneratedItem::SystemCaches) {
        const QString base = QStringLiteral("/Library/Caches/") + id;
        folder(base);
        out << file(base + QStringLiteral("/shared.cache"), random.logUniform(64 << 10, 16 << 20));
    }
    if (items & GeneratedItem::SystemPreferences)
        out << text(QStringLiteral("/Library/Preferences/") + id + QStringLiteral(".plist"), preferences(id, random));
    if (items & GeneratedItem::SystemSupport) {
        const QString base = QStringLiteral("/Library/Application Support/") + appName;
        folder(base);
        out << file(base + QStringLiteral("/License.dat"), 1024 + random.below(2048));
    }
    return out;
}

} // namespace volumegen::GeneratedFiles
