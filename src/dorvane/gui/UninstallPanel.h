#pragma once

#include "dorvane/planning/UninstallPlan.h"

#include <QDialog>

#include <memory>

namespace Ui {
class UninstallPanel;
}

class QTreeWidget;

namespace dorvane {

// The sheet that shows the uninstall plan as a tree, fully expanded with
// nothing selected, and asks to confirm or cancel.
class UninstallPanel : public QDialog
{
    Q_OBJECT

public:
    explicit UninstallPanel(QWidget *window);
    ~UninstallPanel() override;

    // The plan's sections, each heading with its leaves, in order.
    void setTree(const QList<PlanSection> &sections);
    void setContinueTitle(const QString &title);
    QTreeWidget *tree() const;

Q_SIGNALS:
    void continueRequested();
    void cancelRequested();

protected:
    void reject() override;

private:
    std::unique_ptr<Ui::UninstallPanel> m_ui;
};

} // namespace dorvane
