#include "platform/PropertyList.h"

#include "platform/Volume.h"

#include "platform/plist/PlistReaders.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace platform::PropertyList {

namespace {

using plist::kMacEpochOffset;
using plist::kMaxDepth;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist takes C strings: a NUL inside would silently cut the text short.
bool fitsCString(const QString &text)
{
    return !text.contains(QChar(0));
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
        if (!fitsCString(value.toString()))
            return nullptr;
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
            plist_t child = fitsCString(it.key()) ? fromVariant(it.value(), depth + 1) : nullptr;
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
    QString problem;
    QVariant result;
    if (data.isEmpty())
        problem = QStringLiteral("empty property list");
    else if (data.startsWith("bplist"))
        result = plist::readBinary(data, &problem);
    else
        result = plist::readXml(data, &problem);
    if (error)
        *error = problem;
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

std::optional<QVariantMap> readDictionary(const LogicalPath &path, qint64 maxBytes)
{
    const std::optional<QByteArray> bytes = Volume::current()->readFile(path, maxBytes);
    if (!bytes)
        return std::nullopt;
    const QVariant value = fromData(*bytes);
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value.toMap();
}

} // namespace platform::PropertyList
