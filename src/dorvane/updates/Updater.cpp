#include "dorvane/updates/Updater.h"

#include "kestrum/Alert.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "platform/Workspace.h"

#include <QDateTime>
#include <QRegularExpression>

namespace dorvane::updates {

namespace {

// When the last automatic check ran, so that an interval of weeks survives
// restarts; a timer alone could not hold it.
const char kLastCheckKey[] = "SULastCheckTime";

// Release notes as the alert can show them: plain text, not too long.
QString notesText(const UpdateCheckResult &result)
{
    QString text = result.releaseNotes;
    text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    text = text.simplified();
    if (text.size() > 600)
        text = text.left(600) + QStringLiteral(" […]");
    return text;
}

} // namespace

Updater::Updater(QObject *parent) : QObject(parent)
{
    connect(&m_check, &UpdateCheck::finished, this, &Updater::present);
    // A tick an hour looks whether a check is due; the interval itself can
    // be longer than a timer holds.
    m_tick.setInterval(3600 * 1000);
    connect(&m_tick, &QTimer::timeout, this, &Updater::checkIfDue);
}

qint64 Updater::intervalForTag(qint64 tag)
{
    switch (tag) {
    case 1: return 86400;
    case 2: return 172800;
    case 3: return 604800;
    case 4: return 1209600;
    case 5: return 2419200;
    default: return 0;
    }
}

void Updater::setUpdateCheck(qint64 tag)
{
    const qint64 interval = intervalForTag(tag);
    if (interval > 0)
        setUpdateCheckInterval(interval);
    setAutomaticallyChecksForUpdates(interval > 0);
}

void Updater::setAutomaticallyChecksForUpdates(bool on)
{
    m_automatic = on;
    if (on) {
        m_tick.start();
        checkIfDue();
    } else {
        m_tick.stop();
    }
}

void Updater::setUpdateCheckInterval(qint64 seconds)
{
    m_interval = seconds;
}

void Updater::checkIfDue()
{
    const QDateTime last = kestrum::DefaultsKey(kLastCheckKey).defaultObject().toDateTime();
    const qint64 elapsed = last.isValid() ? last.secsTo(QDateTime::currentDateTimeUtc()) : -1;
    // A last check in the future means the clock was set back: it is no
    // reason to wait, or checks would stop until the clock caught up.
    if (!m_automatic || m_check.isRunning() || (elapsed >= 0 && elapsed < m_interval))
        return;
    kestrum::DefaultsKey(kLastCheckKey).setDefaultObject(QDateTime::currentDateTimeUtc());
    m_check.start();
}

void Updater::checkForUpdates()
{
    m_interactive = true;
    m_check.start();
}

void Updater::present(const UpdateCheckResult &result)
{
    const bool interactive = std::exchange(m_interactive, false);
    const QString name = kestrum::hx ? kestrum::hx->appName() : QStringLiteral("Dorvane");
    if (result.updateAvailable) {
        const QString notes = notesText(result);
        const int answer = kestrum::alert(
            kestrum::makeString("A new version of %@ is available!", name),
            kestrum::makeString("%@ %@ is now available; you have %@.%@", name, result.newestVersion,
                                result.currentVersion, notes.isEmpty() ? QString() : QStringLiteral("\n\n") + notes),
            QStringLiteral("Open Download Page"), QStringLiteral("Later"));
        const QUrl page(result.downloadPage.isEmpty() ? result.downloadUrl : result.downloadPage);
        // The feed comes from the network: a file, a program or a script it
        // names is never handed to the desktop, only a web page.
        const bool web = page.scheme() == QLatin1String("https") || page.scheme() == QLatin1String("http");
        if (answer == 1000 && web)
            platform::Workspace::openUrl(page);
        else if (answer == 1000)
            kestrum::asl_NSLog(kestrum::LogWarning,
                               "Warning: the update's download page %@ is no web address and was not opened",
                               page.toString());
    } else if (interactive && result.succeeded()) {
        kestrum::alert(QStringLiteral("You're up to date!"),
                       kestrum::makeString("%@ %@ is currently the newest version available.", name,
                                           result.currentVersion),
                       QStringLiteral("OK"));
    } else if (interactive) {
        kestrum::alert(QStringLiteral("Update Error!"), result.error, QStringLiteral("Cancel Update"));
    }
    Q_EMIT checked(result);
}

} // namespace dorvane::updates
