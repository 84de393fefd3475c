#include "kestrum/DefaultsKey.h"

#include "kestrum/VariantKinds.h"
#include "platform/UserDefaults.h"

namespace kestrum {

namespace {

platform::UserDefaults &defaults()
{
    return platform::UserDefaults::standard();
}

} // namespace

QVariant DefaultsKey::defaultObject() const
{
    return defaults().object(name());
}

void DefaultsKey::setDefaultObject(const QVariant &value) const
{
    defaults().setObject(name(), value);
}

QString DefaultsKey::defaultString() const
{
    const QVariant v = defaultObject();
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

void DefaultsKey::setDefaultString(const QString &value) const
{
    setDefaultObject(value.isNull() ? QVariant() : QVariant(value));
}

QVariantList DefaultsKey::defaultArray() const
{
    const QVariant v = defaultObject();
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList ? v.toList()
                                                                                          : QVariantList();
}

QStringList DefaultsKey::defaultStringArray() const
{
    QStringList out;
    const QVariantList list = defaultArray();
    for (const QVariant &item : list) {
        if (item.typeId() == QMetaType::QString)
            out.append(item.toString());
    }
    return out;
}

bool DefaultsKey::hasDefaultArray() const
{
    const QVariant v = defaultObject();
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList;
}

void DefaultsKey::setDefaultArray(const QVariantList &value) const
{
    setDefaultObject(value);
}

void DefaultsKey::setDefaultArray(const QStringList &value) const
{
    setDefaultObject(QVariant(value).toList());
}

QVariantMap DefaultsKey::defaultDict() const
{
    const QVariant v = defaultObject();
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

void DefaultsKey::setDefaultDict(const QVariantMap &value) const
{
    setDefaultObject(value);
}

QUrl DefaultsKey::defaultURL() const
{
    const QVariant v = defaultObject();
    if (v.typeId() != QMetaType::QString)
        return QUrl();
    return QUrl(v.toString());
}

void DefaultsKey::setDefaultURL(const QUrl &value) const
{
    // Stored as its text, which keeps the preference file readable.
    setDefaultObject(value.isValid() ? QVariant(value.toString()) : QVariant());
}

qint64 DefaultsKey::defaultInt() const
{
    const QVariant v = defaultObject();
    if (isNumericValue(v))
        return v.typeId() == QMetaType::Double ? qint64(v.toDouble()) : v.toLongLong();
    if (v.typeId() == QMetaType::QString)
        return v.toString().trimmed().toLongLong();
    return 0;
}

void DefaultsKey::setDefaultInt(qint64 value) const
{
    setDefaultObject(QVariant(value));
}

float DefaultsKey::defaultFloat() const
{
    const QVariant v = defaultObject();
    if (isNumericValue(v) || v.typeId() == QMetaType::QString)
        return v.toFloat();
    return 0.0f;
}

void DefaultsKey::setDefaultFloat(float value) const
{
    setDefaultObject(QVariant(double(value)));
}

} // namespace kestrum
