#pragma once

#include "dorvane/gui/PromotionWindow.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

namespace kestrum {
class RvWebView;
}

namespace dorvane {

class DocumentationWindow;

// The documentation window, the promotion window and the maker's pages:
// which documents there are, the version shown, the promotion page and
// where each link goes. It makes its windows when first asked, as children
// of the given window, and is not a window itself.
class DocumentationController : public QObject
{
    Q_OBJECT

public:
    DocumentationController(QWidget *window, QObject *parent = nullptr);

    // Takes the shipped documents and the version once start-up has the
    // library's state.
    void setUp(const QString &version);
    QString version() const { return m_version; }
    QUrl aboutURL() const { return m_aboutURL; }
    QUrl historyURL() const { return m_historyURL; }
    QUrl faqURL() const { return m_faqURL; }
    QUrl readmeURL() const { return m_readmeURL; }

    // The documentation window, with the promotion page in its small view.
    void openDocumentation();
    // The promotion window, made afresh when it was closed.
    void openPromotion();
    // Opens the maker's mail or page that the sender's "tag" chooses
    // (modulo 256).
    static void openURL(const QObject *sender);
    DocumentationWindow *documentationWindow() const { return m_documentationWindow; }
    PromotionWindow *promotionWindow() const { return m_promotionWindow; }

    // The maker's promotion page: the bundle's "PromotionPage" unless set.
    QUrl promotionPage() const;
    void setPromotionPage(const QUrl &page) { m_promotionPage = page; }

private:
    void configurePromotionView(kestrum::RvWebView *view);
    void loadPromotionPage(kestrum::RvWebView *view);

    QWidget *m_window;
    DocumentationWindow *m_documentationWindow = nullptr;   // made when first opened
    QPointer<PromotionWindow> m_promotionWindow;           // gone once closed
    QUrl m_promotionPage;
    QString m_version;
    QUrl m_aboutURL, m_historyURL, m_faqURL, m_readmeURL;
};

} // namespace dorvane
