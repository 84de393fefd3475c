#pragma once

#include <QUrl>
#include <QWidget>

#include <memory>

namespace Ui {
class DocumentationWindow;
}

class QTextBrowser;

namespace kestrum {
class RvWebView;
}

namespace dorvane {

// The documents the bundle ships (about, history, FAQ, read me), one tab
// each, and a small view of the maker's promotion page beside them. A link
// to another of the documents opens its tab, a relative one ("#part") stays
// in its document; any other link goes to the user's browser or mail
// program.
class DocumentationWindow : public QWidget
{
    Q_OBJECT

public:
    enum Document { About, History, Faq, ReadMe };

    explicit DocumentationWindow(QWidget *parent = nullptr);
    ~DocumentationWindow() override;

    void setDocuments(const QList<QUrl> &urls);   // in Document order
    void setVersion(const QString &version);
    QTextBrowser *browser(Document document) const;
    Document currentDocument() const;
    kestrum::RvWebView *smallPromotionWebView() const;

private:
    void linkClicked(const QUrl &url);

    std::unique_ptr<Ui::DocumentationWindow> m_ui;
    QList<QUrl> m_documents;
};

} // namespace dorvane
