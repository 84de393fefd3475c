#pragma once

#include <QString>
#include <QUrl>

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

// Removes every login item of the user that resolves to the application at
// the file URL. Login items are the autostart entries of the volume's home
// (~/.config/autostart/*.desktop); an entry resolves through the program of
// its Exec key to the bundle whose MacOS folder holds it, or else to the
// program itself. An entry whose program is gone is left alone, silently.
void removeLoginItem_LS(const QUrl &appURL);

// Removes from the user's Dock settings ("persistent-apps" of the domain
// "com.apple.dock") every tile whose URL text contains the URL's text, and
// writes the domain back with every other key unchanged. True when the
// settings were changed; nothing is written otherwise.
bool removeFromDock(const QUrl &appURL);

// Asks the Dock running from the volume to quit, so that it reads its
// changed settings when it starts again.
void quitDock();

} // namespace dorvane::AppIntegration
