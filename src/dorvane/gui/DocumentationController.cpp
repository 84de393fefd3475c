#include "dorvane/gui/DocumentationController.h"

#include "dorvane/gui/DocumentationWindow.h"
#include "dorvane/gui/PromotionWindow.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Resources.h"
#include "kestrum/web/RvWebView.h"
#include "platform/Bundle.h"

namespace dorvane {

DocumentationController::DocumentationController(QWidget *window, QObject *parent)
    : QObject(parent), m_window(window)
{
}

void DocumentationController::setUp(const QString &version)
{
    m_version = version;
    m_aboutURL = kestrum::resourceURL(QStringLiteral("Credits.md"));
    m_historyURL = kestrum::resourceURL(QStringLiteral("History.md"));
    m_faqURL = kestrum::resourceURL(QStringLiteral("FAQ.md"));
    m_readmeURL = kestrum::resourceURL(QStringLiteral("Read Me.md"));
}

void DocumentationController::openURL(const QObject *sender)
{
    if (kestrum::hx)
        kestrum::hx->openURL(quint8(sender->property("tag").toLongLong() % 256));
}

void DocumentationController::openDocumentation()
{
    if (!m_documentationWindow) {
        m_documentationWindow = new DocumentationWindow(m_window);
        configurePromotionView(m_documentationWindow->smallPromotionWebView());
    }
    m_documentationWindow->setDocuments({m_aboutURL, m_historyURL, m_faqURL, m_readmeURL});
    m_documentationWindow->setVersion(m_version);
    loadPromotionPage(m_documentationWindow->smallPromotionWebView());
    m_documentationWindow->show();
    m_documentationWindow->raise();
    m_documentationWindow->activateWindow();
}

void DocumentationController::openPromotion()
{
    if (!m_promotionWindow) {
        m_promotionWindow = new PromotionWindow(m_window);
        configurePromotionView(m_promotionWindow->promotionWebView());
    }
    loadPromotionPage(m_promotionWindow->promotionWebView());
    m_promotionWindow->show();
    m_promotionWindow->raise();
    m_promotionWindow->activateWindow();
}

QUrl DocumentationController::promotionPage() const
{
    if (!m_promotionPage.isEmpty())
        return m_promotionPage;
    return QUrl(platform::Bundle::main().infoValue(QStringLiteral("PromotionPage")).toString());
}

void DocumentationController::configurePromotionView(kestrum::RvWebView *view)
{
    // The page is the view's live page: links elsewhere go to the browser,
    // and offline the shipped copy stands in.
    view->setRemoteHTMLURL(promotionPage().toString());
    // Whichever view finished, the small one shows the page at 58.75 %.
    connect(view, &QWebEngineView::loadFinished, this, [this] {
        if (m_documentationWindow)
            m_documentationWindow->smallPromotionWebView()->page()->runJavaScript(
                QStringLiteral("document.documentElement.style.zoom = \"0.5875\""));
    });
}

void DocumentationController::loadPromotionPage(kestrum::RvWebView *view)
{
    // A view not yet shown loads the page itself when it first appears.
    if (view->initialLoadStarted())
        view->load(promotionPage());
}

} // namespace dorvane
