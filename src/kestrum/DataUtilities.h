#pragma once

#include <QByteArray>
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

} // namespace kestrum
