#pragma once

#include <QString>

namespace kestrum {

// Shows a modal alert with up to three buttons, skipping absent (null)
// titles, and returns 1000, 1001 or 1002 for the button pressed. Must be
// called on the main thread; background work hops with dispatch_sync_main.
int alert(const QString &title, const QString &message, const QString &firstButton = QString(),
          const QString &secondButton = QString(), const QString &thirdButton = QString());

// The same, titled with the application's name.
int alert_apptitled(const QString &message, const QString &firstButton = QString(),
                    const QString &secondButton = QString(), const QString &thirdButton = QString());

} // namespace kestrum
