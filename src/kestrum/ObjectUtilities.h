#pragma once

#include <QColor>
#include <QMetaProperty>
#include <QObject>
#include <QVariant>
#include <QVariantMap>

#include <memory>

// Conveniences for objects: values attached to a QObject, objects made from
// a map of property values, and boxed rectangles and colours.
namespace kestrum {

// The key of the single-value form; its address, not its text, is the key.
extern const char kHalvexAssociatedValue[];

// Attaches `value` to the object under the key's identity (its address), until the object is destroyed; an invalid value removes it. Any thread.
void setAssociatedValue(const QObject *object, const void *key, const QVariant &value);
// The value attached under that key, or an invalid one.
QVariant associatedValueForKey(const QObject *object, const void *key);
// The same under the fixed key kHalvexAssociatedValue.
void setAssociatedValue(const QObject *object, const QVariant &value);
QVariant associatedValue(const QObject *object);

// A new T from its plain constructor with each property named in `values` set; nullptr when a name is no property of T or a value does not fit it.
template<typename T>
std::unique_ptr<T> newWith(const QVariantMap &values)
{
    auto object = std::make_unique<T>();
    const QMetaObject *meta = object->metaObject();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const int index = meta->indexOfProperty(it.key().toUtf8().constData());
        if (index < 0 || !meta->property(index).write(object.get(), it.value()))
            return nullptr;
    }
    return object;
}

// The rectangle boxed in a QVariant.
QVariant makeRectValue(double x, double y, double width, double height);
// An RGB colour from components between 0 and 1.
QColor makeColor(float red, float green, float blue, float alpha);
// The same from components between 0 and 255.
QColor makeColor255(float red, float green, float blue, float alpha);

} // namespace kestrum
