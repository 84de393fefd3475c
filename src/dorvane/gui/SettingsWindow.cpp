#include "dorvane/gui/SettingsWindow.h"

#include "dorvane/Settings.h"
#include "kestrum/DefaultsKey.h"

#include <QSignalBlocker>
#include <QSpinBox>
#include "ui_SettingsWindow.h"

namespace dorvane {

using IgnoreLists::List;

SettingsWindow::SettingsWindow(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::SettingsWindow>())
{
    m_ui->setupUi(this);
    connectEditor(List::Installers, m_ui->installersAddButton, m_ui->installersRemoveButton,
                  m_ui->installersResetButton);
    connectEditor(List::SystemFolders, m_ui->foldersAddButton, m_ui->foldersRemoveButton, m_ui->foldersResetButton);
    // The box's rows are the setting's values; any other stored value
    // (automatic checks off) shows as "Never".
    connect(m_ui->intervalBox, &QComboBox::activated, this, [this](int index) {
        kestrum::DefaultsKey(Settings::kUpdateCheckMenuIndex).setDefaultInt(index);
        Q_EMIT updateIntervalChosen(index);
    });
    connect(m_ui->keepDaysBox, &QSpinBox::valueChanged, this,
            [](int days) { kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(days); });
    reload();
}

SettingsWindow::~SettingsWindow() = default;

QListWidget *SettingsWindow::list(List list) const
{
    return list == List::Installers ? m_ui->installersList : m_ui->foldersList;
}

void SettingsWindow::reload()
{
    showList(List::Installers);
    showList(List::SystemFolders);
    const qint64 interval = kestrum::DefaultsKey(Settings::kUpdateCheckMenuIndex).defaultInt();
    m_ui->intervalBox->setCurrentIndex(interval >= 1 && interval <= 5 ? int(interval) : 0);
    const QSignalBlocker quiet(m_ui->keepDaysBox);
    m_ui->keepDaysBox->setValue(int(kestrum::DefaultsKey(Settings::kKeepRemovedDays).defaultInt()));
}

void SettingsWindow::showList(List which)
{
    QListWidget *view = list(which);
    view->clear();
    view->addItems(IgnoreLists::entries(which));
}

void SettingsWindow::connectEditor(List which, QAbstractButton *add, QAbstractButton *remove, QAbstractButton *reset)
{
    // A command that was cancelled leaves the list and its selection alone.
    connect(add, &QAbstractButton::clicked, this, [this, which] {
        if (IgnoreLists::add(which))
            showList(which);
    });
    connect(reset, &QAbstractButton::clicked, this, [this, which] {
        if (IgnoreLists::reset(which))
            showList(which);
    });
    connect(remove, &QAbstractButton::clicked, this, [this, which] {
        QList<int> rows;
        QStringList shown;
        for (const QModelIndex &index : list(which)->selectionModel()->selectedRows())
            rows.append(index.row());
        for (int row = 0; row < list(which)->count(); ++row)
            shown.append(list(which)->item(row)->text());
        if (!rows.isEmpty() && IgnoreLists::removeRows(which, shown, rows))
            showList(which);
    });
}

} // namespace dorvane
