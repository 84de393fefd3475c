#include "dorvane/updates/UpdateCheck.h"

#include "dorvane/updates/AppcastFeed.h"
#include "platform/Bundle.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace dorvane::updates {

namespace {

QString bundleInfo(const char *key)
{
    return platform::Bundle::main().infoValue(QString::fromLatin1(key)).toString().trimmed();
}

} // namespace

UpdateCheck::UpdateCheck(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_feed(QUrl(bundleInfo("SUFeedURL")))
    , m_currentVersion(bundleInfo("CFBundleShortVersionString"))
    , m_currentBuild(bundleInfo("CFBundleVersion"))
{
}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::setCurrentVersion(const QString &shownVersion, const QString &build)
{
    m_currentVersion = shownVersion;
    m_currentBuild = build;
}

UpdateCheckResult UpdateCheck::baseResult() const
{
    UpdateCheckResult result;
    result.feed = m_feed;
    result.currentVersion = m_currentVersion;
    result.currentBuild = m_currentBuild;
    return result;
}

void UpdateCheck::start()
{
    if (m_running)
        return;
    m_running = true;
    if (!m_feed.isValid() || m_feed.isRelative()) {
        UpdateCheckResult result = baseResult();
        result.error = m_feed.isEmpty() ? QStringLiteral("No update feed address is configured.")
                                        : QStringLiteral("The update feed address %1 is not valid.")
                                              .arg(m_feed.toString());
        // Queued, so that a caller connects before it hears the end.
        QMetaObject::invokeMethod(this, [this, result] { finish(result); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(m_feed);
    request.setTransferTimeout(int(m_timeout.count()));
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Dorvane/%1").arg(m_currentVersion));
    QNetworkReply *reply = m_network->get(request);
    // Refuse an oversized feed as it arrives instead of holding all of it.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxFeedBytes || total > kMaxFeedBytes) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { readReply(reply); });
}

void UpdateCheck::readReply(QNetworkReply *reply)
{
    reply->deleteLater();
    UpdateCheckResult result = baseResult();
    const QString address = m_feed.toString(QUrl::RemoveUserInfo);
    if (reply->property("tooLarge").toBool()) {
        result.error = QStringLiteral("The update feed %1 is larger than %2 MiB.")
                           .arg(address)
                           .arg(kMaxFeedBytes / (1024 * 1024));
    } else if (reply->error() == QNetworkReply::OperationCanceledError
               || reply->error() == QNetworkReply::TimeoutError) {
        // The transfer time-out aborts the reply; nothing else here cancels one.
        result.error = QStringLiteral("The update feed %1 did not answer within %2 seconds.")
                           .arg(address)
                           .arg(double(m_timeout.count()) / 1000.0);
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = QStringLiteral("Cannot fetch the update feed %1: %2").arg(address, reply->errorString());
    } else {
        const AppcastFeed feed = AppcastFeed::parse(reply->read(kMaxFeedBytes + 1));
        const std::optional<AppcastItem> newest = feed.newest();
        if (!feed.error.isEmpty()) {
            result.error = feed.error;
        } else if (!newest) {
            result.error = QStringLiteral("The update feed %1 lists no release.").arg(address);
        } else {
            result.newestVersion = newest->shortVersion;
            result.newestBuild = newest->version;
            result.updateAvailable = compareVersions(newest->version, m_currentBuild) > 0;
            result.downloadUrl = newest->downloadUrl;
            result.downloadPage = newest->downloadPage;
            result.releaseNotesLink = newest->releaseNotesLink;
            result.releaseNotes = newest->releaseNotes;
        }
    }
    finish(result);
}

void UpdateCheck::finish(const UpdateCheckResult &result)
{
    m_running = false;
    Q_EMIT finished(result);
}

UpdateCheckResult UpdateCheck::runAndWait()
{
    UpdateCheckResult result;
    QEventLoop loop;
    const QMetaObject::Connection connection = connect(this, &UpdateCheck::finished, &loop,
                                                       [&](const UpdateCheckResult &finished) {
                                                           result = finished;
                                                           loop.quit();
                                                       });
    start();   // a check already running ends the same way; its result is the answer
    loop.exec();
    disconnect(connection);
    return result;
}

} // namespace dorvane::updates
