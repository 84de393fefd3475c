#include "dorvane/planning/UninstallPlan.h"

#include <QVariantMap>

namespace dorvane {

QVariantList UninstallPlan::uninstallFilesNodes() const
{
    const QString name = QStringLiteral("name");
    QVariantList sections;
    sections.reserve(uninstallFiles.size());
    for (const PlanSection &section : uninstallFiles) {
        QVariantList leaves;
        leaves.reserve(section.children.size());
        for (const QString &child : section.children)
            leaves.append(QVariantMap{{name, child}});
        sections.append(QVariantMap{{name, section.name}, {QStringLiteral("children"), leaves}});
    }
    return sections;
}

} // namespace dorvane
