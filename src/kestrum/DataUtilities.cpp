#include "kestrum/DataUtilities.h"

#include "kestrum/Log.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>

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
    return QString::fromLatin1(data.toHex());
}

} // namespace kestrum
