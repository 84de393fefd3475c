#include "dorvane/gui/UninstallPanel.h"

#include "dorvane/gui/OutlineTree.h"
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
    fillOutline(m_ui->planTree, sections);
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
