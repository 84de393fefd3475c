#include "kestrum/Resources.h"

#include "kestrum/FileSystem.h"
#include "platform/Bundle.h"
#include "platform/Workspace.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace kestrum {

QString resourcePath(const QString &name)
{
    const QString folder = platform::Bundle::main().resourcesPath();
    if (folder.isEmpty() || name.isEmpty())
        return QString();
    const QString path = folder + QLatin1Char('/') + name;
    return QFileInfo::exists(path) ? path : QString();
}

QUrl resourceURL(const QString &name)
{
    const QString path = resourcePath(name);
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

std::optional<QByteArray> download(const QUrl &url, int timeoutMs)
{
    if (!url.isValid())
        return std::nullopt;
    if (url.isLocalFile())
        return contents(url);

    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(request(url));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    std::optional<QByteArray> result;
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
        result = reply->readAll();
    else
        reply->abort();
    delete reply;
    return result;
}

std::optional<QByteArray> download(const QString &urlText, int timeoutMs)
{
    return download(QUrl(urlText), timeoutMs);
}

void open(const QUrl &url)
{
    platform::Workspace::openUrl(url);
}

QNetworkRequest request(const QUrl &url)
{
    return QNetworkRequest(url);
}

} // namespace kestrum
