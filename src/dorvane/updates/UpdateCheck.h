#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

namespace dorvane::updates {

struct UpdateCheckResult
{
    QUrl feed;
    QString currentVersion;     // CFBundleShortVersionString of the running bundle
    QString currentBuild;       // CFBundleVersion
    QString newestVersion;      // the newest item's shown version
    QString newestBuild;
    bool updateAvailable = false;
    QString downloadUrl;
    QString downloadPage;
    QString releaseNotesLink;
    QString releaseNotes;
    QString error;              // empty when the feed was fetched and read

    bool succeeded() const { return error.isEmpty(); }
};

// One check of the application's own update feed: fetches the feed without
// blocking, reads it and compares its newest build with the running one.
// Made on the main thread and left to run there; `finished` comes exactly
// once per start(), always from the event loop, never from inside start().
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    // The feed address and versions come from the bundle's Info.plist
    // (SUFeedURL, CFBundleShortVersionString, CFBundleVersion).
    explicit UpdateCheck(QObject *parent = nullptr);
    ~UpdateCheck() override;

    void setFeedUrl(const QUrl &url) { m_feed = url; }
    QUrl feedUrl() const { return m_feed; }
    void setCurrentVersion(const QString &shownVersion, const QString &build);
    // A feed that has not arrived after this long gives up (default 30 s).
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    bool isRunning() const { return m_running; }
    // Starts a check; does nothing while one runs.
    void start();

    // Runs a check to its end in a local event loop: for the command line,
    // never for the main thread of a window.
    UpdateCheckResult runAndWait();

Q_SIGNALS:
    void finished(const dorvane::updates::UpdateCheckResult &result);

private:
    void readReply(QNetworkReply *reply);
    void finish(const UpdateCheckResult &result);
    UpdateCheckResult baseResult() const;

    QNetworkAccessManager *m_network;
    QUrl m_feed;
    QString m_currentVersion;
    QString m_currentBuild;
    std::chrono::milliseconds m_timeout{30000};
    bool m_running = false;
};

} // namespace dorvane::updates
