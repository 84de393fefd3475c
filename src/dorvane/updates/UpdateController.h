#pragma once

#include <QObject>

namespace dorvane::updates {

class Updater;

// When the updater exists and what it is told: it is made once, after the
// first scan, with the stored check interval; a check asked for before
// then only logs a warning.
class UpdateController : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Makes the updater, set from "updatecheckMenuindex"; once.
    void start();
    // Checks for a new version now, when the updater exists.
    void checkForUpdates();
    // Applies a menu index of "updatecheckMenuindex", when the updater exists.
    void setUpdateCheck(qint64 tag);
    Updater *updater() const { return m_updater; }

private:
    Updater *m_updater = nullptr;
};

} // namespace dorvane::updates
