#include "dorvane/gui/DocumentationWindow.h"

#include "platform/Workspace.h"
#include "ui_DocumentationWindow.h"

namespace dorvane {

DocumentationWindow::DocumentationWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::DocumentationWindow>())
{
    m_ui->setupUi(this);
    for (int document = About; document <= ReadMe; ++document) {
        QTextBrowser *view = browser(Document(document));
        view->setOpenLinks(false);
        connect(view, &QTextBrowser::anchorClicked, this, &DocumentationWindow::linkClicked);
    }
}

DocumentationWindow::~DocumentationWindow() = default;

void DocumentationWindow::setDocuments(const QList<QUrl> &urls)
{
    m_documents = urls;
    for (int document = About; document <= ReadMe && document < urls.size(); ++document)
        browser(Document(document))->setSource(urls.at(document), QTextDocument::MarkdownResource);
}

void DocumentationWindow::setVersion(const QString &version)
{
    m_ui->versionLabel->setText(version);
}

QTextBrowser *DocumentationWindow::browser(Document document) const
{
    QTextBrowser *browsers[] = {m_ui->aboutBrowser, m_ui->historyBrowser, m_ui->faqBrowser, m_ui->readmeBrowser};
    return browsers[document];
}

DocumentationWindow::Document DocumentationWindow::currentDocument() const
{
    return Document(m_ui->documentTabs->currentIndex());
}

kestrum::RvWebView *DocumentationWindow::smallPromotionWebView() const
{
    return m_ui->smallPromotionWebView;
}

void DocumentationWindow::linkClicked(const QUrl &url)
{
    // Documents name each other by file name; a document the bundle lacks
    // has no name, and "#part" names no document.
    for (int document = About; document < m_documents.size(); ++document) {
        const QUrl &known = m_documents.at(document);
        const bool named = url.isRelative() ? !url.path().isEmpty() && known.fileName() == url.path() : known == url;
        if (!known.isEmpty() && named) {
            m_ui->documentTabs->setCurrentIndex(document);
            if (url.hasFragment())
                browser(Document(document))->scrollToAnchor(url.fragment());
            return;
        }
    }
    // Any other relative link ("#part") lies within the document.
    if (url.isRelative()) {
        if (url.hasFragment())
            browser(currentDocument())->scrollToAnchor(url.fragment());
        return;
    }
    platform::Workspace::openUrl(url);
}

} // namespace dorvane
