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

void UninstallPanel::setTree(const QList<PlanSection> &sections)
{
    QTreeWidget *view = m_ui->planTree;
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

void UninstallPanel::setContinueTitle(const QString &title)
{
    m_ui->continueButton->setText(title);
}

void UninstallPanel::reject()
{
    Q_EMIT cancelRequested();
}

} // namespace dorvane
