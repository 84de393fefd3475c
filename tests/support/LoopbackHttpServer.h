#pragma once

#include <QAtomicInt>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <future>

// Serves fixed pages on 127.0.0.1 from a thread of its own, so that it also
// answers while a test blocks on a child process. A path it does not know
// gets 404; a path whose type is empty is never answered. stop() closes the
// port, so a later request finds no server at all.
class LoopbackHttpServer : public QThread
{
public:
    struct Page
    {
        QByteArray type;
        QByteArray body;
    };

    explicit LoopbackHttpServer(QMap<QByteArray, Page> pages) : m_pages(std::move(pages)) { start(); }
    ~LoopbackHttpServer() override { stop(); }

    QString base() { return QStringLiteral("http://127.0.0.1:%1").arg(m_portReady.get()); }
    // Requests for the pages it has (a browser also asks for icons).
    int requests() const { return m_requests.loadRelaxed(); }
    void stop()
    {
        quit();
        wait();
    }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this, &server] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
        m_port.set_value(server.serverPort());
        exec();
    }

private:
    void answer(QTcpSocket *socket)
    {
        const QByteArray request = socket->peek(8192);
        if (!request.contains("\r\n\r\n"))
            return;
        socket->read(request.size());
        const auto page = m_pages.constFind(request.split(' ').value(1));
        if (page != m_pages.cend())
            m_requests.fetchAndAddRelaxed(1);
        if (page != m_pages.cend() && page->type.isEmpty())
            return;
        const bool found = page != m_pages.cend();
        const QByteArray body = found ? page->body : QByteArray();
        socket->write((found ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") + QByteArray("\r\nContent-Type: ")
                      + (found ? page->type : "text/plain") + "\r\nConnection: close\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    const QMap<QByteArray, Page> m_pages;
    std::promise<quint16> m_port;
    std::shared_future<quint16> m_portReady = m_port.get_future().share();
    QAtomicInt m_requests;
};
