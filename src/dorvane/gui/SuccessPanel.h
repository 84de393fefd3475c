#pragma once

#include "dorvane/planning/UninstallPlan.h"

#include <QDialog>

#include <memory>

namespace Ui {
class SuccessPanel;
}

class QTreeWidget;

namespace dorvane {

// The sheet that shows what an uninstall removed, group by group, until the
// user is done with it.
class SuccessPanel : public QDialog
{
    Q_OBJECT

public:
    explicit SuccessPanel(QWidget *window);
    ~SuccessPanel() override;

    void setTree(const QList<PlanSection> &groups);
    // How much the quarantine keeps and how to undo; hidden when empty.
    void setKeptNote(const QString &text);
    QTreeWidget *tree() const;

Q_SIGNALS:
    void doneRequested();

protected:
    void reject() override;

private:
    std::unique_ptr<Ui::SuccessPanel> m_ui;
};

} // namespace dorvane
