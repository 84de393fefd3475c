#pragma once

#include "dorvane/IgnoreLists.h"

#include <QDialog>

#include <memory>

namespace Ui {
class SettingsWindow;
}

class QAbstractButton;
class QListWidget;

namespace dorvane {

// All settings in one window: the two protective lists with their add,
// remove and reset commands, the interval of update checks, and the
// Advanced Options the main window shows too. Every change is stored at
// once.
class SettingsWindow : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget *parent);
    ~SettingsWindow() override;

    QListWidget *list(IgnoreLists::List list) const;
    // Shows the stored settings.
    void reload();

Q_SIGNALS:
    // The user chose an interval of update checks (a menu index).
    void updateIntervalChosen(qint64 tag);

private:
    void connectEditor(IgnoreLists::List list, QAbstractButton *add, QAbstractButton *remove,
                       QAbstractButton *reset);
    void showList(IgnoreLists::List list);

    std::unique_ptr<Ui::SettingsWindow> m_ui;
};

} // namespace dorvane
