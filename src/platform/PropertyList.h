#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform {

class LogicalPath;

// Property lists in the XML and the binary form. Values map to Qt types:
// string QString, integer qint64, real double, boolean bool, date QDateTime
// (UTC), data QByteArray, array QVariantList, dictionary QVariantMap, and a
// keyed archive's UID quint64.
//
// Reading is our own and takes any bytes: every property list the program
// reads may come from a hostile file. libplist, whose assertions abort on a
// NUL inside a string or key and whose parser and destructors recurse
// without bound, is used only to write.
namespace PropertyList {

enum class Format { Xml, Binary };

// An invalid QVariant and a message in *error when the bytes are not a
// property list this reader takes: malformed; nested deeper than 512 levels;
// more than 2^16 values or 16 MiB of strings and data (a shared binary object
// counts wherever it appears); a binary object that refers back to itself; a
// string or key that holds a NUL or is not valid UTF-8/UTF-16; a null, set or
// other value without a Qt type. Never aborts.
QVariant fromData(const QByteArray &data, QString *error = nullptr);

// Reads a physical file; an invalid QVariant when it cannot be read or parsed.
QVariant readFile(const QString &physicalPath, QString *error = nullptr);

// The dictionary in a file of the volume, read through the door and
// refused unread above maxBytes; nothing when it is missing, too large,
// malformed or no dictionary.
std::optional<QVariantMap> readDictionary(const LogicalPath &path, qint64 maxBytes);

// Empty when the value holds something a property list cannot carry
// (including a string or key with a NUL).
QByteArray toData(const QVariant &value, Format format = Format::Xml);

// Writes atomically (temporary file, then rename). False on failure.
bool writeFile(const QString &physicalPath, const QVariant &value, Format format = Format::Xml);

} // namespace PropertyList
} // namespace platform
