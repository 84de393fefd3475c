#include "dorvane/uninstall/SessionRecord.h"

#include "dorvane/logs/LogFiles.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

#include <QVariantMap>

namespace dorvane {

namespace {

using platform::LogicalPath;
using platform::Volume;

const QString kTilesKey = QStringLiteral("dockTiles");
const QString kLoginItemsKey = QStringLiteral("loginItems");

LogicalPath recordPath(const QString &run)
{
    return SessionRecord::folderOf(run).child(u"session.plist");
}

} // namespace

SessionRecord::SessionRecord(QString run) : m_run(std::move(run)) {}

LogicalPath SessionRecord::folderOf(const QString &run)
{
    return LogFiles::sessionRecords().child(run);
}

bool SessionRecord::keepLoginItem(const LogicalPath &entry)
{
    const LogicalPath folder = folderOf(m_run);
    if (!Volume::current()->makeFolders(folder))
        return false;
    const LogicalPath kept = folder.child(QString::number(m_loginItems.size() + 1));
    if (Volume::current()->moveItems({{entry, kept}}, Volume::Reach::ItemOnly).value(0).outcome != Volume::Moved::Done)
        return false;
    m_loginItems.append(entry.toString());
    save();
    return true;
}

void SessionRecord::keepDockTiles(const QList<AppIntegration::DockTile> &tiles)
{
    if (tiles.isEmpty())
        return;
    m_tiles += tiles;
    save();
}

void SessionRecord::save()
{
    QVariantList tiles;
    for (const AppIntegration::DockTile &tile : std::as_const(m_tiles))
        tiles.append(QVariantMap{{QStringLiteral("index"), tile.index}, {QStringLiteral("tile"), tile.tile}});
    const QVariantMap record{{kTilesKey, tiles}, {kLoginItemsKey, m_loginItems}};
    Volume::current()->makeFolders(folderOf(m_run));
    Volume::current()->writeFile(recordPath(m_run), platform::PropertyList::toData(record), nullptr, 0600);
}

SessionRecord::Restored SessionRecord::restore(const QString &run)
{
    Restored restored;
    const std::optional<QVariantMap> record = platform::PropertyList::readDictionary(recordPath(run), platform::ReadLimit::kPreferences);
    if (!record)
        return restored;
    const QStringList loginItems = record->value(kLoginItemsKey).toStringList();
    const LogicalPath folder = folderOf(run);
    for (qsizetype i = 0; i < loginItems.size(); ++i) {
        const std::optional<LogicalPath> place = platform::volumePath(loginItems[i]);
        const LogicalPath kept = folder.child(QString::number(i + 1));
        if (!place || !Volume::current()->status(kept, platform::Follow::NotFinal))
            continue;
        Volume::current()->makeFolders(place->parent());
        const Volume::Moved moved = Volume::current()->moveItems({{kept, *place}}, Volume::Reach::ItemOnly).value(0);
        if (moved.outcome == Volume::Moved::Done)
            ++restored.loginItems;
        else
            restored.failures.append(QStringLiteral("%1: %2").arg(loginItems[i],
                                                                  moved.error == EEXIST ? QStringLiteral("its place is taken")
                                                                                        : moved.reason));
    }
    QList<AppIntegration::DockTile> tiles;
    for (const QVariant &tile : record->value(kTilesKey).toList())
        tiles.append({tile.toMap().value(QStringLiteral("index")).toInt(), tile.toMap().value(QStringLiteral("tile"))});
    restored.dockTiles = AppIntegration::restoreDockTiles(tiles);
    if (restored.dockTiles > 0)
        AppIntegration::quitDock();
    if (restored.failures.isEmpty())
        discard(run);
    return restored;
}

void SessionRecord::discard(const QString &run)
{
    Volume::current()->removeTree(folderOf(run));
}

} // namespace dorvane
