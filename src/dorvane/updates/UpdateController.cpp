#include "dorvane/updates/UpdateController.h"

#include "dorvane/Settings.h"
#include "dorvane/updates/Updater.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Log.h"

namespace dorvane::updates {

void UpdateController::start()
{
    if (m_updater)
        return;
    m_updater = new Updater(this);
    setUpdateCheck(kestrum::DefaultsKey(Settings::kUpdateCheckMenuIndex).defaultInt());
}

void UpdateController::checkForUpdates()
{
    if (!m_updater) {
        kestrum::asl_NSLog(kestrum::LogWarning, QStringLiteral("Warning: the sparkle updater is not available!"));
        return;
    }
    m_updater->checkForUpdates();
}

void UpdateController::setUpdateCheck(qint64 tag)
{
    if (m_updater)
        m_updater->setUpdateCheck(tag);
}

} // namespace dorvane::updates
