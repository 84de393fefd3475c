#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace platform {

// Property lists in the XML and the binary form, read and written through
// libplist. Values map to Qt types: string QString, integer qint64, real
// double, boolean bool, date QDateTime (UTC), data
// QByteArray, array QVariantList, dictionary QVariantMap.
namespace PropertyList {

enum class Format { Xml, Binary };

// An invalid QVariant and a message in *error when the bytes are not a
// property list.
QVariant fromData(const QByteArray &data, QString *error = nullptr);

// Reads a physical file; an invalid QVariant when it cannot be read or parsed.
QVariant readFile(const QString &physicalPath, QString *error = nullptr);

// Empty when the value holds something a property list cannot carry.
QByteArray toData(const QVariant &value, Format format = Format::Xml);

// Writes atomically (temporary file, then rename). False on failure.
bool writeFile(const QString &physicalPath, const QVariant &value, Format format = Format::Xml);

} // namespace PropertyList
} // namespace platform
