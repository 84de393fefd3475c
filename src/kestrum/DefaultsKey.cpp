#include "kestrum/DefaultsKey.h"

#include "kestrum/VariantKinds.h"
#include "platform/UserDefaults.h"

#include <limits>

namespace kestrum {

namespace {

platform::UserDefaults &defaults()
{
    return platform::UserDefaults::standard();
}

// A number in a text as the Mac reads it: blanks, a sign and the digits that
// follow; the rest is ignored ("12abc" is 12), no digits give 0, and a number
// beyond the range gives the nearest bound.
qint64 leadingInteger(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    const bool negative = i < text.size() && text.at(i) == QLatin1Char('-');
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        const int digit = text.at(i).unicode() - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        value = value * 10 + digit;
    }
    return negative ? -value : value;
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
        return leadingInteger(v.toString());
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
