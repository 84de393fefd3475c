#include "dorvane/gui/UninstallPanel.h"

#include "ui_UninstallPanel.h"

namespace dorvane {

UninstallPanel::UninstallPanel(QWidget *window)
    : QDialog(window, Qt::Sheet)
    , m_ui(std::make_unique<Ui::UninstallPanel>())
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    connect(m_ui->continueButton, &QPushButton::clicked, this, &UninstallPanel::continueRequested);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &UninstallPanel::cancelRequested);
}

UninstallPanel::~UninstallPanel() = default;

QTreeWidget *UninstallPanel::tree() const
{
    return m_ui->planTree;
}

void UninstallPanel::setTree(const QVariantList &tree)
{
    QTreeWidget *view = m_ui->planTree;
    view->clear();
    QList<QTreeWidgetItem *> sections;
    for (const QVariant &node : tree) {
        const QVariantMap section = node.toMap();
        auto *item = new QTreeWidgetItem(QStringList{section.value(QStringLiteral("name")).toString()});
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
        const QVariantList children = section.value(QStringLiteral("children")).toList();
        QList<QTreeWidgetItem *> leaves;
        leaves.reserve(children.size());
        for (const QVariant &child : children)
            leaves.append(new QTreeWidgetItem(QStringList{child.toMap().value(QStringLiteral("name")).toString()}));
        item->addChildren(leaves);
        sections.append(item);
    }
    view->addTopLevelItems(sections);
    view->expandAll();
    view->clearSelection();
    view->setCurrentItem(nullptr);
}

void UninstallPanel::setContinueTitle(const QString &title)
{
    m_ui->continueButton->setText(title);
}

void UninstallPanel::reject()
{
    Q_EMIT cancelRequested();
}

} // namespace dorvane
