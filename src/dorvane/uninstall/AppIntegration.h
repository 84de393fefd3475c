#pragma once

#include "platform/LogicalPath.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>

// Quitting a package's applications and taking them out of the user's
// session: the login items and the Dock. Everything runs as the user, never
// through the helper tool, and a failure is logged as a warning, never asked
// about.
namespace dorvane::AppIntegration {

// Ends at once, without letting them save, the running processes of the
// application with this bundle identifier (compared exactly): every process
// whose executable lies directly in the MacOS folder of a bundle whose
// Info.plist names it. Does not wait for them; an empty identifier does
// nothing.
void quitApp(const QString &bundleIdentifier);

// A tile taken out of the Dock, with its place, for undo.
struct DockTile
{
    int index = 0;
    QVariant tile;
};

// Removes every login item of the user that resolves to the application at
// the file URL; `keep`, when given, takes the entry away instead (moving it
// aside for undo), and the entry is removed when it answers false. Login items are the autostart entries of the volume's home
// (~/.config/autostart/*.desktop); an entry resolves through the program of
// its Exec key to the bundle whose MacOS folder holds it, or else to the
// program itself. An entry whose program is gone is left alone, silently.
void removeLoginItem_LS(const QUrl &appURL,
                        const std::function<bool(const platform::LogicalPath &entry)> &keep = {});

// Removes from the user's Dock settings ("persistent-apps" of the domain
// "com.apple.dock") every tile whose URL text contains the URL's text, and
// writes the domain back with every other key unchanged. True when the
// settings were changed; nothing is written otherwise. The tiles taken out
// are added to *removed.
bool removeFromDock(const QUrl &appURL, QList<DockTile> *removed = nullptr);

// Puts the tiles back at their places (at the end when the Dock has fewer
// tiles now), each unless a tile of the same URL is there already. The
// number put back.
int restoreDockTiles(const QList<DockTile> &tiles);

// Asks the Dock running from the volume to quit, so that it reads its
// changed settings when it starts again.
void quitDock();

} // namespace dorvane::AppIntegration
