#pragma once

#include "dorvane/uninstall/AppIntegration.h"
#include "platform/LogicalPath.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace dorvane {

// What an uninstall took out of the user's own session, kept so that undo
// can put it back: the Dock tiles it took out of the Dock's settings, and
// the login items (autostart entries), moved beside the record. It lives in
// the user's support folder, "Quarantine/<run>": the session is the user's,
// and the helper tool never touches it.
class SessionRecord
{
public:
    explicit SessionRecord(QString run);

    static platform::LogicalPath folderOf(const QString &run);

    // Moves the login item beside the record; false when it cannot be kept
    // (it is then removed as before).
    bool keepLoginItem(const platform::LogicalPath &entry);
    void keepDockTiles(const QList<AppIntegration::DockTile> &tiles);

    struct Restored
    {
        int dockTiles = 0;
        int loginItems = 0;
        QStringList failures;   // "path: reason"
    };
    // Puts the run's login items and Dock tiles back; a login item whose
    // place is taken stays in the record. The record goes when all is back.
    static Restored restore(const QString &run);
    // Removes the run's record, with the login items it keeps.
    static void discard(const QString &run);

private:
    void save();

    QString m_run;
    QList<AppIntegration::DockTile> m_tiles;
    QStringList m_loginItems;   // where each kept entry was; kept under its number
};

} // namespace dorvane
