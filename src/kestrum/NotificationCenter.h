#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace kestrum {

// The process's notification center: one object that anybody may post a
// named notification to and anybody may observe, for a poster and observers
// that do not know each other, as a signal connection would need them to.
// An observer in another thread receives the notification queued.
class NotificationCenter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void post(const QString &name, QObject *object = nullptr, const QVariantMap &userInfo = {})
    {
        Q_EMIT notification(name, object, userInfo);
    }

Q_SIGNALS:
    void notification(const QString &name, QObject *object, const QVariantMap &userInfo);
};

} // namespace kestrum
