#pragma once

#include <QDialog>
#include <QVariantList>

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

    // Nodes {"name": text, "children": [{"name": text}, ...]}, in order.
    void setTree(const QVariantList &tree);
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
