#pragma once

#include <QJsonValue>
#include <QVariant>

namespace dorvane {

// A property-list value as JSON: dates as ISO 8601 text (UTC), data as
// base64, dictionaries and arrays as objects and arrays.
QJsonValue jsonFromPropertyList(const QVariant &value);

} // namespace dorvane
