#pragma once

#include "dorvane/receipts/PackageRecord.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

namespace dorvane {

// The package list: one row per shown package, with its icon and
// identifier, its version (or, while Alt is held, its installer) and its
// size. A new list arrives whole; a size arrives row by row.
class PackageTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColumnName = 0, ColumnVersion, ColumnSize, ColumnCount };

    explicit PackageTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setPackages(const QList<PackageRecord> &packages);
    const QList<PackageRecord> &packages() const { return m_packages; }
    const PackageRecord &packageAt(int row) const { return m_packages.at(row); }

    // The version column shows the installer's name instead ("Installer").
    void setShowsInstaller(bool showsInstaller);
    bool showsInstaller() const { return m_showsInstaller; }

    // The size text of the package changed; its rows redraw.
    void sizeChanged(const QString &identifier);

private:
    QIcon iconFor(const QString &iconPath) const;

    QList<PackageRecord> m_packages;
    bool m_showsInstaller = false;
    mutable QHash<QString, QIcon> m_icons;
};

} // namespace dorvane
