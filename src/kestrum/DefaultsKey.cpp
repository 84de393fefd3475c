#include "kestrum/DefaultsKey.h"

#include "kestrum/VariantKinds.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"

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

// A path inside the home folder written from "~", so that a stored place
// survives the home folder's move; any other path as it is.
QString withTilde(const QString &path)
{
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    const std::optional<platform::LogicalPath> logical = volume->path(path);
    if (!logical || !logical->isWithin(volume->home()))
        return path;
    // By components, since the two spellings may differ in case.
    const QStringList inside = logical->toString().split(QLatin1Char('/')).mid(
        volume->home().toString().split(QLatin1Char('/')).size());
    return inside.isEmpty() ? QStringLiteral("~") : QStringLiteral("~/") + inside.join(QLatin1Char('/'));
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

std::optional<QVariantList> DefaultsKey::defaultArray() const
{
    const QVariant v = defaultObject();
    if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList)
        return std::nullopt;
    return v.toList();
}

QStringList DefaultsKey::defaultStringArray() const
{
    QStringList out;
    const QVariantList list = defaultArray().value_or(QVariantList());
    for (const QVariant &item : list) {
        if (item.typeId() == QMetaType::QString)
            out.append(item.toString());
    }
    return out;
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
    if (v.typeId() == QMetaType::QByteArray)
        return QUrl::fromEncoded(v.toByteArray(), QUrl::StrictMode);
    if (v.typeId() != QMetaType::QString)
        return QUrl();
    const QString path = platform::Volume::current()->expandTilde(v.toString());
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

void DefaultsKey::setDefaultURL(const QUrl &value) const
{
    if (!value.isValid())
        setDefaultObject(QVariant());
    else if (value.isLocalFile())
        setDefaultObject(withTilde(value.toLocalFile()));
    else
        setDefaultObject(value.toEncoded());
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
