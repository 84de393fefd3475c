#include "dorvane/StartUp.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/DocumentationController.h"
#include "dorvane/gui/DocumentationWindow.h"
#include "dorvane/gui/MainWindow.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Resources.h"
#include "kestrum/web/RvWebView.h"
#include "platform/Bundle.h"
#include "support/LogRing.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"
#include "ui_MainWindow.h"
#include "VolumeGenerator.h"

#include <QSignalSpy>
#include <QTest>

#include <unistd.h>
#include <QTextBlock>
#include <QTextBrowser>
#include <QThreadPool>
#include <QWebEngineLoadingInfo>

using kestrum::RvWebView;
using namespace dorvane;

namespace {

const QByteArray kLivePage = "<html><head><title>Live page</title></head><body>"
                             "<a id=\"third\" href=\"https://third.example/page\">elsewhere</a>"
                             "<a id=\"blank\" href=\"https://third.example/blank\" target=\"_blank\">new window</a>"
                             "</body></html>";
const QString kShippedTitle = QStringLiteral("More from the Dorvane developers");

// The script's answer, or "<no answer>" when the page never gives one.
QVariant evaluate(QWebEngineView *view, const QString &script)
{
    auto answer = std::make_shared<std::optional<QVariant>>();
    view->page()->runJavaScript(script, [answer](const QVariant &value) { *answer = value; });
    if (!QTest::qWaitFor([&] { return answer->has_value(); }, 10000))
        return QStringLiteral("<no answer>");
    return **answer;
}

QString pageZoom(QWebEngineView *view)
{
    return evaluate(view, QStringLiteral("document.documentElement.style.zoom")).toString();
}

} // namespace

// The web view against its shipped page and a live page on a loopback
// server, and the documentation and promotion windows built on it.
class WebViewTest : public QObject
{
    Q_OBJECT

    QString live() { return m_server.base() + QStringLiteral("/live.html"); }
    void showAndWait(RvWebView *view, const QString &title)
    {
        view->resize(400, 300);
        view->show();
        QTRY_COMPARE_WITH_TIMEOUT(view->title(), title, 15000);
    }

    LoopbackHttpServer m_server{{{"/live.html", {"text/html", kLivePage}}}};

private Q_SLOTS:
    void initTestCase()
    {
        // The shipped page lives in the bundle, found by this before anything asks.
        qputenv("DORVANE_BUNDLE_DIR", DORVANE_BUNDLE_DIR);
        QVERIFY(!platform::Bundle::main().resourcesPath().isEmpty());
        StartUp::registerDefaults();
        // Run as root, a view shows the shipped page only; these tests run
        // as root and allow the live page on purpose.
        QCOMPARE(RvWebView::livePagesAllowedByDefault(), ::geteuid() != 0);
        RvWebView::setLivePagesAllowedByDefault(true);
    }

    void loads_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("remote");     // "live", "stopped" (no server there), or none
        QTest::addColumn<QString>("title");      // what the view shows in the end
        QTest::addColumn<bool>("network");       // whether the server was asked

        QTest::newRow("shipped page only") << "Promotion.html" << "" << kShippedTitle << false;
        QTest::newRow("live page replaces it") << "Promotion.html" << "live" << "Live page" << true;
        QTest::newRow("live page only") << "" << "live" << "Live page" << true;
        QTest::newRow("offline falls back") << "Promotion.html" << "stopped" << kShippedTitle << false;
        QTest::newRow("live page not allowed (root)") << "Promotion.html" << "refused" << kShippedTitle << false;
    }

    void loads()
    {
        QFETCH(QString, local);
        QFETCH(QString, remote);
        QFETCH(QString, title);
        QFETCH(bool, network);
        QString address;
        if (remote == "live" || remote == "refused") {
            address = live();
        } else if (remote == "stopped") {
            LoopbackHttpServer gone({});
            address = gone.base() + "/live.html";
        }
        const int requestsBefore = m_server.requests();
        RvWebView view;
        view.setLocalHTMLName(local);
        view.setRemoteHTMLURL(address);
        view.setLivePageAllowed(remote != "refused");
        bool liveFailed = false, shippedAfterFailure = false;
        connect(view.page(), &QWebEnginePage::loadingChanged, this, [&](const QWebEngineLoadingInfo &info) {
            liveFailed |= info.status() == QWebEngineLoadingInfo::LoadFailedStatus && info.url() == QUrl(address);
            shippedAfterFailure |= liveFailed && info.status() == QWebEngineLoadingInfo::LoadSucceededStatus
                && info.url() == view.localURL();
        });
        QVERIFY(!view.initialLoadStarted());
        showAndWait(&view, title);
        // Offline, the shipped page is loaded again after the live one failed.
        if (remote == "stopped")
            QTRY_VERIFY_WITH_TIMEOUT(shippedAfterFailure, 15000);
        QCOMPARE(liveFailed, remote == "stopped");
        QCOMPARE(view.url(), title == kShippedTitle ? view.localURL() : QUrl(address));
        if (remote == "refused")
            QVERIFY(!view.decidePolicyForNavigation(QUrl(address)));
        QCOMPARE(m_server.requests() > requestsBefore, network);
    }

    void offlineFailures_data()
    {
        QTest::addColumn<int>("domain");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("offline");
        QTest::newRow("refused") << int(QWebEngineLoadingInfo::ConnectionErrorDomain) << -102 << true;
        QTest::newRow("timed out") << int(QWebEngineLoadingInfo::InternalErrorDomain) << -7 << true;
        QTest::newRow("name lookup timed out") << int(QWebEngineLoadingInfo::DnsErrorDomain) << -803 << true;
        QTest::newRow("aborted") << int(QWebEngineLoadingInfo::InternalErrorDomain) << -3 << false;
    }

    void offlineFailures()
    {
        QFETCH(int, domain);
        QFETCH(int, code);
        QFETCH(bool, offline);
        QCOMPARE(kestrum::isOfflineFailure(QWebEngineLoadingInfo::ErrorDomain(domain), code), offline);
    }

    // Offline, a shipped page the bundle lacks is an error in the log, at
    // the first load and again after the live page failed.
    void missingShippedPageIsLogged()
    {
        VolumeFixture volume;   // the log's last lines are settings
        LoopbackHttpServer gone({});
        const QString address = gone.base() + "/live.html";
        gone.stop();
        RvWebView view;
        view.setLocalHTMLName("Nothing.html");
        view.setRemoteHTMLURL(address);
        view.show();
        QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(kestrum::LogError).filter("the page Nothing.html is not in").size(), 2,
                                  15000);
    }

    // A link in a document to another document opens its tab; one within the
    // document stays there; any other goes to the browser.
    void documentLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("tab");
        QTest::newRow("another document") << "FAQ.md" << int(DocumentationWindow::Faq);
        QTest::newRow("anchor") << "#install" << int(DocumentationWindow::About);
        QTest::newRow("web page") << "https://third.example/" << int(DocumentationWindow::About);
    }

    void documentLinks()
    {
        QFETCH(QString, link);
        QFETCH(int, tab);
        UrlRecorder browser;
        DocumentationWindow window;
        window.setDocuments({kestrum::resourceURL("Credits.md"), {}, kestrum::resourceURL("FAQ.md"), {}});
        Q_EMIT window.browser(DocumentationWindow::About)->anchorClicked(QUrl(link));
        QCOMPARE(int(window.currentDocument()), tab);
        QCOMPARE(browser.urls(), link.startsWith("https") ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
    }

    void otherAddressesGoToTheBrowser_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("same window") << "third";
        QTest::newRow("new window") << "blank";
    }

    void otherAddressesGoToTheBrowser()
    {
        QFETCH(QString, link);
        UrlRecorder browser;
        RvWebView view;
        view.setLocalHTMLName("Promotion.html");
        view.setRemoteHTMLURL(live());
        showAndWait(&view, "Live page");
        QVERIFY(browser.urls().isEmpty());
        evaluate(&view, QStringLiteral("document.getElementById('%1').click()").arg(link));
        const QUrl opened("https://third.example/" + (link == "third" ? QString("page") : link));
        QTRY_COMPARE(browser.urls(), QList<QUrl>{opened});
        QCOMPARE(view.url(), QUrl(live()));
        QCOMPARE(view.title(), QString("Live page"));
    }

    void zoomsTheFirstPageOnce_data()
    {
        QTest::addColumn<QVariant>("factor");
        QTest::addColumn<QString>("first");      // the page's zoom
        QTest::addColumn<bool>("keptAfter");     // whether the factor is still set afterwards

        QTest::newRow("0.8") << QVariant(0.8) << "0.8" << false;
        QTest::newRow("1") << QVariant(1.0) << "" << true;
        QTest::newRow("within 0.0001 of 1") << QVariant(0.99995) << "" << true;
        QTest::newRow("none") << QVariant() << "" << false;
    }

    void zoomsTheFirstPageOnce()
    {
        QFETCH(QVariant, factor);
        QFETCH(QString, first);
        QFETCH(bool, keptAfter);
        RvWebView view;
        view.setLocalHTMLName("Promotion.html");
        view.setZoomFactor(factor);
        // The view hears of a finished load before this spy does.
        QSignalSpy finished(&view, &QWebEngineView::loadFinished);
        showAndWait(&view, kShippedTitle);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 15000);
        QCOMPARE(pageZoom(&view), first);
        QCOMPARE(view.zoomFactor().isValid(), keptAfter);
        // The next page is left as it is.
        finished.clear();
        view.load(view.localURL());
        QVERIFY(finished.wait(15000));
        QCOMPARE(pageZoom(&view), QString());
    }

    void twoViewsLoadOnTheirOwn()
    {
        RvWebView shown, later;
        for (RvWebView *view : {&shown, &later})
            view->setLocalHTMLName("Promotion.html");
        showAndWait(&shown, kShippedTitle);
        QVERIFY(!later.initialLoadStarted());
        QVERIFY(later.url().isEmpty());
        showAndWait(&later, kShippedTitle);
        QCOMPARE(later.url(), later.localURL());
    }

    void menuTagIsTakenModulo256()
    {
        VolumeFixture volume;
        ScriptedPresenterScope script;
        static kestrum::Kestrum shared;
        UrlRecorder browser;
        AppDelegate delegate;
        QCOMPARE(delegate.window()->ui().storePageAction->property("tag").toInt(), 260);
        delegate.window()->ui().storePageAction->trigger();
        QCOMPARE(browser.urls(), QList<QUrl>{QUrl(shared.urlTextForChoice(kestrum::openStorePage))});
    }

    void promotionWindowIsMadeAfreshAfterClosing()
    {
        VolumeFixture volume;
        ScriptedPresenterScope script;
        UrlRecorder browser;
        AppDelegate delegate;
        delegate.documentation().setPromotionPage(QUrl(live()));
        delegate.documentation().openPromotion();
        QPointer<PromotionWindow> first = delegate.documentation().promotionWindow();
        QVERIFY(first && first->isVisible());
        RvWebView *view = first->promotionWebView();
        QTRY_COMPARE_WITH_TIMEOUT(view->title(), QString("Live page"), 15000);
        evaluate(view, QStringLiteral("document.getElementById('third').click()"));
        QTRY_COMPARE(browser.urls(), QList<QUrl>{QUrl("https://third.example/page")});
        QCOMPARE(view->url(), QUrl(live()));

        delegate.documentation().openPromotion();
        QCOMPARE(delegate.documentation().promotionWindow(), first.data());
        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!delegate.documentation().promotionWindow());
        delegate.documentation().openPromotion();
        QVERIFY(delegate.documentation().promotionWindow() && delegate.documentation().promotionWindow()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(delegate.documentation().promotionWindow()->promotionWebView()->title(), QString("Live page"), 15000);
    }

    void documentationWindowShowsTheDocuments()
    {
        VolumeFixture volume(QStringLiteral("/Users/demo"));
        QString error;
        QVERIFY2(volumegen::buildDemoVolume(volume.root(), {}, nullptr, &error), qPrintable(error));
        ScriptedPresenterScope script;
        {
            AppDelegate delegate;
            delegate.documentation().setPromotionPage(QUrl(live()));
            delegate.window()->show();
            QSignalSpy scanned(&delegate, &AppDelegate::catalogueHandedOver);
            delegate.applicationDidFinishLaunching();
            QVERIFY(scanned.wait(20000));
            delegate.window()->ui().documentationAction->trigger();
            DocumentationWindow *window = delegate.documentation().documentationWindow();
            QVERIFY(window && window->isVisible());
            const QStringList headings = {"Dorvane", "Version history", "Frequently asked questions", "Read me"};
            for (int document = DocumentationWindow::About; document <= DocumentationWindow::ReadMe; ++document) {
                QTextBrowser *browser = window->browser(DocumentationWindow::Document(document));
                QCOMPARE(browser->document()->firstBlock().text(), headings.at(document));
                QVERIFY(browser->document()->blockCount() > 5);   // read as Markdown: a block per paragraph
            }
            RvWebView *small = window->smallPromotionWebView();
            QTRY_COMPARE_WITH_TIMEOUT(small->title(), QString("Live page"), 15000);
            QTRY_COMPARE(pageZoom(small), QString("0.5875"));
        }
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
        volume.stopHelper();
    }
};

QTEST_MAIN(WebViewTest)
#include "tst_webview.moc"
