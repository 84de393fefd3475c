#pragma once

#include "dorvane/viewing/PackageContents.h"

#include <QAbstractListModel>
#include <QDialog>

#include <memory>

namespace Ui {
class ViewPanel;
}

namespace dorvane {

// The rows of the package view: each path, black when it is there and red
// when it is gone.
class ViewRowsModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void setRows(const QList<PackageContents::Row> &rows);
    const QList<PackageContents::Row> &rows() const { return m_rows; }

private:
    QList<PackageContents::Row> m_rows;
};

// The sheet that lists what the selected packages installed, with a close
// button and a button that goes on to the uninstall.
class ViewPanel : public QDialog
{
    Q_OBJECT

public:
    explicit ViewPanel(QWidget *window);
    ~ViewPanel() override;

    void setRows(const QList<PackageContents::Row> &rows);
    void setUninstallTitle(const QString &title);
    ViewRowsModel *model() const { return m_model; }

Q_SIGNALS:
    void closeRequested();
    void uninstallRequested();

protected:
    void reject() override;

private:
    std::unique_ptr<Ui::ViewPanel> m_ui;
    ViewRowsModel *m_model;
};

} // namespace dorvane
