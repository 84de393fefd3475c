#include "dorvane/gui/ViewPanel.h"

#include "dorvane/gui/FirstArrayObjectTransformer.h"
#include "kestrum/Format.h"
#include "ui_ViewPanel.h"

#include <QColor>

namespace dorvane {

int ViewRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ViewRowsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const PackageContents::Row &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return row.text;
    case Qt::ForegroundRole:
        return FirstArrayObjectTransformer::transformedValue(
            QVariantList{row.exists ? QColor(Qt::black) : QColor(Qt::red)});
    }
    return QVariant();
}

void ViewRowsModel::setRows(const QList<PackageContents::Row> &rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

ViewPanel::ViewPanel(QWidget *window)
    : QDialog(window, Qt::Sheet)
    , m_ui(std::make_unique<Ui::ViewPanel>())
    , m_model(new ViewRowsModel(this))
{
    m_ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    m_ui->fileList->setModel(m_model);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &ViewPanel::closeRequested);
    connect(m_ui->uninstallButton, &QPushButton::clicked, this, &ViewPanel::uninstallRequested);
}

ViewPanel::~ViewPanel() = default;

void ViewPanel::setRows(const QList<PackageContents::Row> &rows)
{
    m_model->setRows(rows);
    qsizetype missing = 0;
    for (const PackageContents::Row &row : rows)
        missing += row.exists ? 0 : 1;
    m_ui->countLabel->setText(kestrum::makeString("%li items, %li missing", qint64(rows.size()), qint64(missing)));
}

void ViewPanel::setUninstallTitle(const QString &title)
{
    m_ui->uninstallButton->setText(title);
}

void ViewPanel::reject()
{
    // Escape closes the sheet as the close button does.
    Q_EMIT closeRequested();
}

} // namespace dorvane
