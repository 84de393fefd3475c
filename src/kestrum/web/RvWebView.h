#pragma once

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

namespace kestrum {

// A web view that shows a page shipped in the bundle and, when a remote
// address is set, the live page from the web in its place, falling back to
// the shipped page when the network cannot be reached. Any other address
// opens in the user's browser, never inside the view. The interface file
// that places the view sets its three properties; the first time the view is
// shown it starts its own load, once per instance.
class RvWebView : public QWebEngineView
{
    Q_OBJECT
    Q_PROPERTY(QString localHTMLName READ localHTMLName WRITE setLocalHTMLName)
    Q_PROPERTY(QString remoteHTMLURL READ remoteHTMLURL WRITE setRemoteHTMLURL)
    // Shadows the engine's own zoom: this one is a script applied once to
    // the first page that finishes loading, then cleared.
    Q_PROPERTY(QVariant zoomFactor READ zoomFactor WRITE setZoomFactor)

public:
    explicit RvWebView(QWidget *parent = nullptr);

    QString localHTMLName() const { return m_localHTMLName; }
    void setLocalHTMLName(const QString &name) { m_localHTMLName = name; }
    QString remoteHTMLURL() const { return m_remoteHTMLURL; }
    void setRemoteHTMLURL(const QString &url) { m_remoteHTMLURL = url; }
    QVariant zoomFactor() const { return m_zoomFactor; }
    void setZoomFactor(const QVariant &factor) { m_zoomFactor = factor; }

    // Whether the live page may load. Off by default for a process run as
    // root: its engine runs without Chromium's sandbox there, so it shows
    // the shipped page only and never a page from the network. The default
    // is taken by each view when it is made.
    bool livePageAllowed() const { return m_livePageAllowed; }
    void setLivePageAllowed(bool allowed) { m_livePageAllowed = allowed; }
    static bool livePagesAllowedByDefault();
    static void setLivePagesAllowedByDefault(bool allowed);

    // The shipped page's address; empty when no local page is named or the
    // bundle lacks it.
    QUrl localURL() const;
    // Whether a navigation to the URL stays in the view; when it does not,
    // the URL has been handed to the workspace.
    bool decidePolicyForNavigation(const QUrl &url);
    bool initialLoadStarted() const { return m_initialLoadStarted; }

protected:
    void showEvent(QShowEvent *event) override;
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;

private:
    void startInitialLoad();
    // Loads the shipped page; a named page the bundle lacks is logged as an
    // error and nothing is loaded.
    void loadLocalPage();
    void resourceDidFinishLoading(bool ok);
    void resourceDidFail(const QWebEngineLoadingInfo &info);

    QString m_localHTMLName;
    QString m_remoteHTMLURL;
    QVariant m_zoomFactor;
    bool m_initialLoadStarted = false;
    bool m_livePageAllowed = livePagesAllowedByDefault();
};

// Whether a failed load of the live page means the machine is offline, so
// that the shipped page comes back.
bool isOfflineFailure(QWebEngineLoadingInfo::ErrorDomain domain, int code);

// The script that zooms a page to the factor (four decimals).
QString zoomScript(double factor);

} // namespace kestrum

namespace kestrum {

// Call before the application object exists. Chromium will not start a
// sandboxed renderer for root and ends the whole process instead, so a
// program run as root runs its web views without that sandbox.
void prepareWebEngine();

} // namespace kestrum
