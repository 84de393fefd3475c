#include "kestrum/ObjectUtilities.h"

#include <QHash>
#include <QMutex>
#include <QRectF>

namespace kestrum {

const char kHalvexAssociatedValue[] = "HalvexAssociatedValue";

namespace {

// A table beside the objects rather than dynamic properties, which send the
// object an event and so may be set only from its own thread.
struct Associations
{
    QMutex mutex;
    QHash<const QObject *, QHash<const void *, QVariant>> values;
};

Associations &associations()
{
    static Associations table;
    return table;
}

} // namespace

void setAssociatedValue(const QObject *object, const void *key, const QVariant &value)
{
    if (!object)
        return;
    Associations &table = associations();
    QMutexLocker lock(&table.mutex);
    auto entry = table.values.find(object);
    if (!value.isValid()) {
        if (entry != table.values.end())
            entry->remove(key); // the entry stays, and with it the one connection below
        return;
    }
    if (entry == table.values.end()) {
        entry = table.values.insert(object, {});
        QObject::connect(object, &QObject::destroyed, [object] {
            Associations &table = associations();
            QMutexLocker lock(&table.mutex);
            table.values.remove(object);
        });
    }
    entry->insert(key, value);
}

QVariant associatedValueForKey(const QObject *object, const void *key)
{
    Associations &table = associations();
    QMutexLocker lock(&table.mutex);
    return table.values.value(object).value(key);
}

void setAssociatedValue(const QObject *object, const QVariant &value)
{
    setAssociatedValue(object, kHalvexAssociatedValue, value);
}

QVariant associatedValue(const QObject *object)
{
    return associatedValueForKey(object, kHalvexAssociatedValue);
}

QVariant makeRectValue(double x, double y, double width, double height)
{
    return QRectF(x, y, width, height);
}

QColor makeColor(float red, float green, float blue, float alpha)
{
    return QColor::fromRgbF(red, green, blue, alpha);
}

QColor makeColor255(float red, float green, float blue, float alpha)
{
    return makeColor(float(red / 255.0), float(green / 255.0), float(blue / 255.0), float(alpha / 255.0));
}

} // namespace kestrum
