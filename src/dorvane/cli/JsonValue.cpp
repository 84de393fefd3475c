#include "dorvane/cli/JsonValue.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

namespace dorvane {

QJsonValue jsonFromPropertyList(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    case QMetaType::QByteArray:
        return QString::fromLatin1(value.toByteArray().toBase64());
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QJsonArray array;
        const QVariantList list = value.toList();
        for (const QVariant &item : list)
            array.append(jsonFromPropertyList(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), jsonFromPropertyList(it.value()));
        return object;
    }
    case QMetaType::LongLong:
    case QMetaType::Int:
        return qint64(value.toLongLong());
    case QMetaType::ULongLong:
    case QMetaType::UInt:
        return double(value.toULongLong());
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    default:
        return QJsonValue::fromVariant(value);
    }
}

} // namespace dorvane
