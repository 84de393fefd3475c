#pragma once

#include <QVariant>

namespace dorvane {

// Turns a list of colours into its first one, and anything else (nothing,
// an empty list, a value that is no list) into black. One-way.
class FirstArrayObjectTransformer
{
public:
    static QVariant transformedValue(const QVariant &value);
};

} // namespace dorvane
