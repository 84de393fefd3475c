#include "dorvane/gui/FirstArrayObjectTransformer.h"

#include <QColor>

namespace dorvane {

QVariant FirstArrayObjectTransformer::transformedValue(const QVariant &value)
{
    if (value.canConvert<QVariantList>() && value.typeId() != QMetaType::QString
        && value.typeId() != QMetaType::QByteArray) {
        const QVariantList list = value.toList();
        if (!list.isEmpty())
            return list.first();
    }
    return QColor(Qt::black);
}

} // namespace dorvane
