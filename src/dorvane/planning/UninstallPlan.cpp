#include "dorvane/planning/UninstallPlan.h"

#include <QVariantMap>

namespace dorvane {

QVariantList sectionNodes(const QList<PlanSection> &sections)
{
    const QString name = QStringLiteral("name");
    QVariantList nodes;
    nodes.reserve(sections.size());
    for (const PlanSection &section : sections) {
        QVariantList leaves;
        leaves.reserve(section.children.size());
        for (const QString &child : section.children)
            leaves.append(QVariantMap{{name, child}});
        nodes.append(QVariantMap{{name, section.name}, {QStringLiteral("children"), leaves}});
    }
    return nodes;
}

} // namespace dorvane
