#pragma once

#include "dorvane/updates/UpdateCheck.h"

#include <QObject>
#include <QTimer>

namespace dorvane::updates {

// The application's updater: checks its own feed automatically at the
// chosen interval and on demand, and tells the user what it found. It
// never asks whether it may check (the setting decides) and never
// installs anything: a newer version is offered as its download page.
// Main thread.
class Updater : public QObject
{
    Q_OBJECT

public:
    explicit Updater(QObject *parent = nullptr);

    // The interval of a menu index of "updatecheckMenuindex"; 0 for the
    // indexes that turn automatic checks off.
    static qint64 intervalForTag(qint64 tag);

    // Applies a menu index: 1 to 5 turn automatic checks on with their
    // interval, anything else turns them off and keeps the interval.
    void setUpdateCheck(qint64 tag);

    void setAutomaticallyChecksForUpdates(bool on);
    bool automaticallyChecksForUpdates() const { return m_automatic; }
    void setUpdateCheckInterval(qint64 seconds);
    qint64 updateCheckInterval() const { return m_interval; }

    // A check the user asked for: every outcome is told, an error too.
    void checkForUpdates();

    UpdateCheck &check() { return m_check; }

Q_SIGNALS:
    // A check ended and the user was told what needed telling.
    void checked(const dorvane::updates::UpdateCheckResult &result);

private:
    void checkIfDue();
    void present(const UpdateCheckResult &result);

    UpdateCheck m_check;
    QTimer m_tick;
    bool m_automatic = false;
    bool m_interactive = false;
    qint64 m_interval = 172800;
};

} // namespace dorvane::updates
