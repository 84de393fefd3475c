#include "platform/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace platform::PropertyList {

namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
constexpr qint64 kMacEpochOffset = 978307200;

// Deeper nesting than any real property list; stops a hostile file from
// exhausting the stack.
constexpr int kMaxDepth = 512;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

QVariant toVariant(plist_t node, int depth, bool *ok)
{
    if (!node || depth > kMaxDepth) {
        *ok = false;
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        // libplist keeps every integer in 64 bits; a negative one comes back
        // as its two's complement, which the signed cast restores.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return QVariant(qint64(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING: {
        char *s = nullptr;
        plist_get_string_val(node, &s);
        QString str = QString::fromUtf8(s);
        std::free(s);
        return QVariant(str);
    }
    case PLIST_DATA: {
        char *bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray data(bytes, qsizetype(length));
        std::free(bytes);
        return QVariant(data);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = (qint64(sec) + kMacEpochOffset) * 1000 + usec / 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            list.append(toVariant(plist_array_get_item(node, i), depth + 1, ok));
            if (!*ok)
                return {};
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            const QString k = QString::fromUtf8(key);
            std::free(key);
            map.insert(k, toVariant(value, depth + 1, ok));
            if (!*ok) {
                std::free(it);
                return {};
            }
        }
        std::free(it);
        return QVariant(map);
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QVariant(quint64(v));
    }
    default:
        *ok = false;
        return {};
    }
}

plist_t fromVariant(const QVariant &value, int depth)
{
    if (depth > kMaxDepth)
        return nullptr;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray data = value.toByteArray();
        return plist_new_data(data.constData(), uint64_t(data.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - kMacEpochOffset * 1000;
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return plist_new_date(int32_t(sec), int32_t((ms - sec * 1000) * 1000));
    }
    case QMetaType::QUrl:
        return plist_new_string(value.toUrl().toString().toUtf8().constData());
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        const QVariantList list = value.toList();
        for (const QVariant &item : list) {
            plist_t child = fromVariant(item, depth + 1);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = fromVariant(it.value(), depth + 1);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

} // namespace

QVariant fromData(const QByteArray &data, QString *error)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<uint32_t>::max()) {
        if (error)
            *error = QStringLiteral("empty or oversized property list");
        return {};
    }
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (!root) {
        if (error)
            *error = QStringLiteral("not a property list");
        return {};
    }
    PlistPtr guard(root);
    bool ok = true;
    QVariant result = toVariant(root, 0, &ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("property list holds an unsupported value");
        return {};
    }
    return result;
}

QVariant readFile(const QString &physicalPath, QString *error)
{
    QFile file(physicalPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return fromData(file.readAll(), error);
}

QByteArray toData(const QVariant &value, Format format)
{
    plist_t root = fromVariant(value, 0);
    if (!root)
        return {};
    PlistPtr guard(root);
    char *out = nullptr;
    uint32_t length = 0;
    if (format == Format::Xml)
        plist_to_xml(root, &out, &length);
    else
        plist_to_bin(root, &out, &length);
    QByteArray bytes(out, qsizetype(length));
    std::free(out);
    return bytes;
}

bool writeFile(const QString &physicalPath, const QVariant &value, Format format)
{
    const QByteArray bytes = toData(value, format);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(physicalPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}

} // namespace platform::PropertyList
