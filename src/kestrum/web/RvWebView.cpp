#include "kestrum/web/RvWebView.h"

#include "kestrum/Log.h"
#include "kestrum/Resources.h"
#include "platform/Workspace.h"

#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>

#include <atomic>

#include <cmath>

#include <unistd.h>

namespace kestrum {

namespace {

// Asks the view about every navigation of its main frame and sub-frames.
class RvWebPage : public QWebEnginePage
{
public:
    RvWebPage(RvWebView *view) : QWebEnginePage(view), m_view(view) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        return m_view->decidePolicyForNavigation(url);
    }

private:
    RvWebView *m_view;
};

// Stands for the new window a link with a target asks for: its first
// navigation goes to the browser, and then it is gone.
class ExternalLinkView : public QWebEngineView
{
public:
    explicit ExternalLinkView(QWidget *parent) : QWebEngineView(parent) { setPage(new Page(this)); }

private:
    class Page : public QWebEnginePage
    {
    public:
        explicit Page(ExternalLinkView *view) : QWebEnginePage(view), m_view(view) {}

    protected:
        bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
        {
            platform::Workspace::openUrl(url);
            m_view->deleteLater();
            return false;
        }

    private:
        ExternalLinkView *m_view;
    };
};

} // namespace

QString zoomScript(double factor)
{
    return QString::asprintf("document.documentElement.style.zoom = \"%.4f\"", factor);
}

RvWebView::RvWebView(QWidget *parent) : QWebEngineView(parent)
{
    setPage(new RvWebPage(this));
    // A page that fails stays empty rather than showing the engine's own
    // error page.
    page()->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    connect(this, &QWebEngineView::loadFinished, this, &RvWebView::resourceDidFinishLoading);
    connect(page(), &QWebEnginePage::loadingChanged, this, &RvWebView::resourceDidFail);
}

namespace {

std::atomic<bool> &livePagesDefault()
{
    static std::atomic<bool> allowed = ::geteuid() != 0;
    return allowed;
}

} // namespace

bool RvWebView::livePagesAllowedByDefault()
{
    return livePagesDefault();
}

void RvWebView::setLivePagesAllowedByDefault(bool allowed)
{
    livePagesDefault() = allowed;
}

QUrl RvWebView::localURL() const
{
    return m_localHTMLName.isEmpty() ? QUrl() : resourceURL(m_localHTMLName);
}

bool RvWebView::decidePolicyForNavigation(const QUrl &url)
{
    const QUrl local = localURL();
    if (!local.isEmpty() && url == local)
        return true;
    if (!m_remoteHTMLURL.isEmpty() && url.toString(QUrl::FullyEncoded) == QUrl(m_remoteHTMLURL).toString(QUrl::FullyEncoded))
        return m_livePageAllowed;
    platform::Workspace::openUrl(url);
    return false;
}

void RvWebView::showEvent(QShowEvent *event)
{
    QWebEngineView::showEvent(event);
    if (!m_initialLoadStarted) {
        m_initialLoadStarted = true;
        startInitialLoad();
    }
}

void RvWebView::startInitialLoad()
{
    if (!m_localHTMLName.isEmpty())
        loadLocalPage();
    if (!m_remoteHTMLURL.isEmpty() && m_livePageAllowed) {
        // Queued, so the live page starts after the shipped one and replaces
        // it when it arrives.
        QMetaObject::invokeMethod(this, [this] { load(QUrl(m_remoteHTMLURL)); }, Qt::QueuedConnection);
    }
}

QWebEngineView *RvWebView::createWindow(QWebEnginePage::WebWindowType)
{
    return new ExternalLinkView(this);
}

void RvWebView::resourceDidFinishLoading(bool ok)
{
    if (!ok || !m_zoomFactor.isValid())
        return;
    const double factor = m_zoomFactor.toFloat();
    if (std::fabs(factor - 1.0) < 0.0001)
        return;
    page()->runJavaScript(zoomScript(factor));
    m_zoomFactor = QVariant();
}

bool isOfflineFailure(QWebEngineLoadingInfo::ErrorDomain domain, int code)
{
    // The engine names no "offline" error of its own: a connection that
    // cannot be made at all (no network, no route, no server, no name) counts
    // as one, and so do a name lookup that fails and a request that timed
    // out (net::ERR_TIMED_OUT, which the engine files as internal).
    constexpr int kTimedOut = -7;
    return domain == QWebEngineLoadingInfo::ConnectionErrorDomain || domain == QWebEngineLoadingInfo::DnsErrorDomain
           || (domain == QWebEngineLoadingInfo::InternalErrorDomain && code == kTimedOut);
}

void RvWebView::loadLocalPage()
{
    const QUrl local = localURL();
    if (local.isEmpty())
        asl_NSLog(LogError, "Error: the page %@ is not in the application's resources", m_localHTMLName);
    else
        load(local);
}

void RvWebView::resourceDidFail(const QWebEngineLoadingInfo &info)
{
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus
        || !isOfflineFailure(info.errorDomain(), info.errorCode()))
        return;
    if (m_localHTMLName.isEmpty() || m_remoteHTMLURL.isEmpty())
        return;
    if (info.url().toString(QUrl::FullyEncoded) != QUrl(m_remoteHTMLURL).toString(QUrl::FullyEncoded))
        return;
    loadLocalPage();
}

} // namespace kestrum

namespace kestrum {

void prepareWebEngine()
{
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

} // namespace kestrum
