#include "dorvane/gui/SuccessPanel.h"

#include "dorvane/gui/OutlineTree.h"
#include "ui_SuccessPanel.h"

namespace dorvane {

SuccessPanel::SuccessPanel(QWidget *window)
    : QDialog(window, Qt::Sheet)
    , m_ui(std::make_unique<Ui::SuccessPanel>())
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    connect(m_ui->doneButton, &QPushButton::clicked, this, &SuccessPanel::doneRequested);
}

SuccessPanel::~SuccessPanel() = default;

void SuccessPanel::setTree(const QList<PlanSection> &groups)
{
    fillOutline(m_ui->successTree, groups);
}

void SuccessPanel::setKeptNote(const QString &text)
{
    m_ui->keptNote->setText(text);
    m_ui->keptNote->setVisible(!text.isEmpty());
}

QTreeWidget *SuccessPanel::tree() const
{
    return m_ui->successTree;
}

void SuccessPanel::reject()
{
    // Escape is as good as the button: the uninstall is over either way.
    Q_EMIT doneRequested();
}

} // namespace dorvane
