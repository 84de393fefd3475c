#pragma once

#include <QVariant>

namespace kestrum {

// Whether a property-list value is a number (booleans and characters count,
// as NSNumber holds them too).
bool isNumericValue(const QVariant &value);

} // namespace kestrum
