#include "platform/Workspace.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMutex>

namespace platform::Workspace {

namespace {

QMutex g_mutex;
UrlOpener g_opener;

} // namespace

bool openUrl(const QUrl &url)
{
    UrlOpener opener;
    {
        QMutexLocker lock(&g_mutex);
        opener = g_opener;
    }
    if (opener)
        return opener(url);
    if (!url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}

UrlOpener setUrlOpener(UrlOpener opener)
{
    QMutexLocker lock(&g_mutex);
    std::swap(g_opener, opener);
    return opener;
}

bool isAltKeyHeld()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
}

} // namespace platform::Workspace
