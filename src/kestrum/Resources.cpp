#include "kestrum/Resources.h"

#include "kestrum/FileSystem.h"
#include "platform/Bundle.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace kestrum {

QString resourcePath(const QString &name)
{
    const std::shared_ptr<const platform::Volume> bundle = platform::Bundle::main().door();
    if (!bundle || name.isEmpty())
        return QString();
    // A name never climbs out of the folder, and a link there never out of the bundle.
    const platform::LogicalPath path = bundle->top().child(u"Contents/Resources").child(name);
    return bundle->status(path, platform::Follow::Final) ? bundle->physicalPath(path) : QString();
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
