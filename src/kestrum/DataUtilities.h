#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// Byte conveniences: text with its encoding detected, JSON reading with the
// program's log lines, and hexadecimal text.
namespace kestrum {

// The bytes as text: a byte-order mark's encoding, else UTF-16 when the zero bytes say so, else UTF-8, else ISO Latin 1 (which always decodes).
QString string(const QByteArray &data);

// The parsed JSON array or object as a QVariant; invalid, with a level-3 "Error: JSON read fails! input ..." log, when it does not parse.
QVariant JSONObject(const QByteArray &data);
// JSONObject when it is an array; else nullopt and a level-3 log naming the type found.
std::optional<QVariantList> JSONArray(const QByteArray &data);
// JSONObject when it is an object; else nullopt and a level-3 log naming the type found.
std::optional<QVariantMap> JSONDictionary(const QByteArray &data);

// Every byte as two lower-case hexadecimal digits; "" for no bytes.
QString hexString(const QByteArray &data);

// Compact JSON; nullopt with a level-3 "Error: JSON write fails! ..." log when a value has no JSON form (bytes, a date, NaN, ...).
std::optional<QByteArray> JSONData(const QVariantList &array);
std::optional<QByteArray> JSONData(const QVariantMap &dictionary);
// An XML property list; nullopt with a level-3 "Error: XML write fails! ..." log when a value cannot be carried.
std::optional<QByteArray> XMLData(const QVariantList &array);
std::optional<QByteArray> XMLData(const QVariantMap &dictionary);

// The next 4 bytes as a little-endian float / 32-bit integer; nullopt when fewer are left.
std::optional<float> readFloat(QIODevice &device);
std::optional<qint32> readInt(QIODevice &device);

} // namespace kestrum
