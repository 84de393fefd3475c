#include "dorvane/gui/PackageTableModel.h"

#include "kestrum/FileSystem.h"
#include "platform/Bundle.h"
#include "platform/Volume.h"

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>
#include <QStyle>

namespace dorvane {

namespace {
// Icons larger than this are not worth reading from the volume.
constexpr qint64 kIconLimit = 16 * 1024 * 1024;
} // namespace

PackageTableModel::PackageTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int PackageTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_packages.size());
}

int PackageTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QIcon PackageTableModel::iconFor(const QString &iconPath) const
{
    auto it = m_icons.constFind(iconPath);
    if (it != m_icons.cend())
        return *it;
    // The damaged-package icon is the application's own resource; every
    // other icon lies on the volume.
    const QString resources = platform::Bundle::main().resourcesPath();
    QIcon icon;
    if (!resources.isEmpty() && iconPath.startsWith(resources)) {
        icon = QIcon(iconPath);
    } else if (const std::optional<QByteArray> bytes = kestrum::contents(iconPath, kIconLimit)) {
        QPixmap pixmap;
        if (pixmap.loadFromData(*bytes))
            icon = QIcon(pixmap);
    }
    if (icon.availableSizes().isEmpty() && icon.pixmap(16, 16).isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    m_icons.insert(iconPath, icon);
    return icon;
}

QVariant PackageTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_packages.size())
        return QVariant();
    const PackageRecord &record = m_packages.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColumnName:
            return record.packageIdentifier();
        case ColumnVersion:
            return m_showsInstaller ? record.installProcessName() : record.packageVersion();
        case ColumnSize:
            return record.installSize();
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == ColumnName)
            return iconFor(record.iconPath());
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == ColumnSize)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case Qt::ToolTipRole:
        if (index.column() == ColumnName && !record.packageFileName().isEmpty())
            return record.packageFileName();
        break;
    }
    return QVariant();
}

QVariant PackageTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case ColumnName:
        return tr("Package");
    case ColumnVersion:
        return m_showsInstaller ? QStringLiteral("Installer") : QStringLiteral("Version");
    case ColumnSize:
        return tr("Size");
    }
    return QVariant();
}

void PackageTableModel::setPackages(const QList<PackageRecord> &packages)
{
    beginResetModel();
    m_packages = packages;
    endResetModel();
}

void PackageTableModel::setShowsInstaller(bool showsInstaller)
{
    if (m_showsInstaller == showsInstaller)
        return;
    m_showsInstaller = showsInstaller;
    Q_EMIT headerDataChanged(Qt::Horizontal, ColumnVersion, ColumnVersion);
    if (!m_packages.isEmpty())
        Q_EMIT dataChanged(index(0, ColumnVersion), index(int(m_packages.size()) - 1, ColumnVersion));
}

void PackageTableModel::sizeChanged(const QString &identifier)
{
    for (int row = 0; row < m_packages.size(); ++row) {
        if (m_packages.at(row).packageIdentifier() == identifier)
            Q_EMIT dataChanged(index(row, ColumnSize), index(row, ColumnSize), {Qt::DisplayRole});
    }
}

} // namespace dorvane
