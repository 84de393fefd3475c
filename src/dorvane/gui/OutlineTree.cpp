#include "dorvane/gui/OutlineTree.h"

#include <QTreeWidget>

namespace dorvane {

void fillOutline(QTreeWidget *view, const QList<PlanSection> &sections)
{
    view->clear();
    QList<QTreeWidgetItem *> headings;
    for (const PlanSection &section : sections) {
        auto *item = new QTreeWidgetItem(QStringList{section.name});
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
        QList<QTreeWidgetItem *> leaves;
        leaves.reserve(section.children.size());
        for (const QString &child : section.children)
            leaves.append(new QTreeWidgetItem(QStringList{child}));
        item->addChildren(leaves);
        headings.append(item);
    }
    view->addTopLevelItems(headings);
    view->expandAll();
    view->clearSelection();
    view->setCurrentItem(nullptr);
}

} // namespace dorvane
