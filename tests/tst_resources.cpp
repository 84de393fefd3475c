#include "kestrum/Resources.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

// Fetching what a URL names, and handing URLs to the workspace.
class ResourcesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void downloadReadsFileURLsFromTheVolume();
    void downloadFetchesOverHttp();
    void downloadGivesUpAfterItsTimeOut();
    void openGoesToTheWorkspace();
};

void ResourcesTest::downloadReadsFileURLsFromTheVolume()
{
    VolumeFixture volume;
    QVERIFY(volume.writeFile("/Library/feed.xml", "<rss/>"));
    QCOMPARE(kestrum::download(QUrl::fromLocalFile("/Library/feed.xml")), std::optional<QByteArray>("<rss/>"));
    QVERIFY(!kestrum::download(QUrl::fromLocalFile("/Library/missing.xml")).has_value());
    QVERIFY(!kestrum::download(QStringLiteral("not a url at all %%")).has_value());
}

// A one-shot HTTP server on the loopback interface, in a thread of its own.
static QThread *serveOnce(quint16 *port, const QByteArray &body, bool answer)
{
    auto *server = new QTcpServer;
    server->listen(QHostAddress::LocalHost);
    *port = server->serverPort();
    auto *thread = new QThread;
    server->moveToThread(thread);
    QObject::connect(server, &QTcpServer::newConnection, server, [server, body, answer] {
        QTcpSocket *socket = server->nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, body, answer] {
            socket->readAll();
            if (!answer)
                return; // hold the line open and say nothing
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
                          + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    });
    QObject::connect(thread, &QThread::finished, server, &QObject::deleteLater);
    thread->start();
    return thread;
}

void ResourcesTest::downloadFetchesOverHttp()
{
    quint16 port = 0;
    QThread *thread = serveOnce(&port, "version 2", true);
    const auto bytes = kestrum::download(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(port), 10000);
    thread->quit();
    thread->wait();
    delete thread;
    QCOMPARE(bytes, std::optional<QByteArray>("version 2"));
}

void ResourcesTest::downloadGivesUpAfterItsTimeOut()
{
    quint16 port = 0;
    QThread *thread = serveOnce(&port, QByteArray(), false);
    QElapsedTimer timer;
    timer.start();
    const auto bytes = kestrum::download(QStringLiteral("http://127.0.0.1:%1/slow").arg(port), 300);
    QVERIFY(!bytes.has_value());
    QVERIFY(timer.elapsed() < 5000);
    thread->quit();
    thread->wait();
    delete thread;
}

void ResourcesTest::openGoesToTheWorkspace()
{
    UrlRecorder recorder;
    kestrum::open(QUrl("https://www.dorvane.example/"));
    QCOMPARE(recorder.urls(), QList<QUrl>{QUrl("https://www.dorvane.example/")});
    QCOMPARE(kestrum::request(QUrl("https://a.example/x")).url(), QUrl("https://a.example/x"));
}

QTEST_GUILESS_MAIN(ResourcesTest)
#include "tst_resources.moc"
