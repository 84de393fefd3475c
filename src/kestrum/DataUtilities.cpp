#include "kestrum/DataUtilities.h"

#include "kestrum/Log.h"
#include "kestrum/VariantKinds.h"
#include "platform/PropertyList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringDecoder>
#include <QtEndian>

#include <bit>
#include <cmath>

namespace kestrum {

namespace {

std::optional<QString> decoded(const QByteArray &data, QStringConverter::Encoding encoding)
{
    // Stateless, so that a sequence cut off at the end counts as an error.
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Text without a byte-order mark holds no zero bytes unless it is UTF-16,
// where the zero high bytes of ASCII characters all fall on one side.
std::optional<QStringConverter::Encoding> utf16ByZeroBytes(const QByteArray &data)
{
    if (data.size() % 2 != 0 || !data.contains('\0'))
        return std::nullopt;
    bool zeroAtEven = false;
    bool zeroAtOdd = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data.at(i) == '\0')
            (i % 2 == 0 ? zeroAtEven : zeroAtOdd) = true;
    }
    if (zeroAtEven == zeroAtOdd)
        return std::nullopt;
    return zeroAtOdd ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
}

QVariant typeFound(const QVariant &value)
{
    return value.isValid() ? QVariant(QString::fromLatin1(value.typeName())) : QVariant();
}

// Why a value has no JSON form; nothing when it has one.
std::optional<QString> notJSON(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
    case QMetaType::QString:
        return std::nullopt;
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        for (const QVariant &element : value.toList()) {
            if (auto problem = notJSON(element))
                return problem;
        }
        return std::nullopt;
    case QMetaType::QVariantMap:
        for (const QVariant &element : value.toMap()) {
            if (auto problem = notJSON(element))
                return problem;
        }
        return std::nullopt;
    default:
        if (!isNumericValue(value))
            return makeString("Invalid type in JSON write (%@)", value.typeName());
        if (!std::isfinite(value.toDouble()))
            return QStringLiteral("Invalid number value (NaN or infinity) in JSON write");
        return std::nullopt;
    }
}

std::optional<QByteArray> writtenJSON(const QVariant &input, const QJsonDocument &document)
{
    if (const auto problem = notJSON(input)) {
        asl_NSLog(LogError, "Error: JSON write fails! input %@ data %@ err %@", input, QVariant(), *problem);
        return std::nullopt;
    }
    return document.toJson(QJsonDocument::Compact);
}

std::optional<QByteArray> writtenXML(const QVariant &input)
{
    QByteArray data = platform::PropertyList::toData(input, platform::PropertyList::Format::Xml);
    if (data.isEmpty()) {
        asl_NSLog(LogError, "Error: XML write fails! input %@ data %@ err %@", input, QVariant(),
                  "a value that a property list cannot carry");
        return std::nullopt;
    }
    return data;
}

template<typename T>
std::optional<T> readLittleEndian(QIODevice &device)
{
    static_assert(sizeof(T) == 4);
    const QByteArray bytes = device.read(4);
    if (bytes.size() != 4)
        return std::nullopt;
    return std::bit_cast<T>(qFromLittleEndian<quint32>(bytes.constData()));
}

} // namespace

QString string(const QByteArray &data)
{
    if (const auto byMark = QStringConverter::encodingForData(data)) {
        if (const auto text = decoded(data, *byMark))
            return *text;
    }
    if (const auto byZeros = utf16ByZeroBytes(data)) {
        if (const auto text = decoded(data, *byZeros))
            return *text;
    }
    if (const auto text = decoded(data, QStringConverter::Utf8))
        return *text;
    return QString::fromLatin1(data);
}

QVariant JSONObject(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        const QString reason = QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset);
        asl_NSLog(LogError, "Error: JSON read fails! input %@ dict %@ err %@", QVariant(data), QVariant(), reason);
        return QVariant();
    }
    return document.toVariant();
}

std::optional<QVariantList> JSONArray(const QByteArray &data)
{
    const QVariant value = JSONObject(data);
    if (value.typeId() != QMetaType::QVariantList) {
        asl_NSLog(LogError, "Error: JSON read fails! input is class %@ instead of array", typeFound(value));
        return std::nullopt;
    }
    return value.toList();
}

std::optional<QVariantMap> JSONDictionary(const QByteArray &data)
{
    const QVariant value = JSONObject(data);
    if (value.typeId() != QMetaType::QVariantMap) {
        asl_NSLog(LogError, "Error: JSON read fails! input is class %@ instead of dictionary", typeFound(value));
        return std::nullopt;
    }
    return value.toMap();
}

QString hexString(const QByteArray &data)
{
    QString hex;
    hex.reserve(data.size() * 2);
    for (const char byte : data)
        hex += makeString("%02lx", qulonglong(quint8(byte)));
    return hex;
}

std::optional<QByteArray> JSONData(const QVariantList &array)
{
    return writtenJSON(array, QJsonDocument(QJsonArray::fromVariantList(array)));
}

std::optional<QByteArray> JSONData(const QVariantMap &dictionary)
{
    return writtenJSON(dictionary, QJsonDocument(QJsonObject::fromVariantMap(dictionary)));
}

std::optional<QByteArray> XMLData(const QVariantList &array)
{
    return writtenXML(array);
}

std::optional<QByteArray> XMLData(const QVariantMap &dictionary)
{
    return writtenXML(dictionary);
}

std::optional<float> readFloat(QIODevice &device)
{
    return readLittleEndian<float>(device);
}

std::optional<qint32> readInt(QIODevice &device)
{
    return readLittleEndian<qint32>(device);
}

} // namespace kestrum
