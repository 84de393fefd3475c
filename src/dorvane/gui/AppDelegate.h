#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/catalogue/PackageFilter.h"
#include "dorvane/viewing/PackageContents.h"

#include <QObject>
#include <QPointer>

class QAbstractButton;

namespace dorvane {

namespace updates {
class UpdateController;
}

struct UninstallOutcome;
class DocumentationController;
class MainWindow;
class PackageTableModel;
class ProgressPanel;
class SettingsWindow;
class SizePass;
class SuccessPanel;
class UninstallFlow;
class UninstallPanel;
class ViewPanel;

// The application's controller: it holds the state (the catalogue, what the
// list shows, the command titles) and wires the logic to threads and
// widgets. The work itself is done by the window-free flows it owns (the
// uninstall, the documentation, the updates) and the classes they call.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // Loads the main interface: the window, its table and controls, the
    // Alt-key monitor; counts the launch.
    AppDelegate();
    ~AppDelegate() override;

    // The start-up sequence once the interface is up; the first scan starts
    // when it has finished, after any question it asks has been answered.
    void applicationDidFinishLaunching();

    // Starts a scan of the receipts on the background queue.
    void update();

    // Filtering and statistics.
    void selectFilterClicked(QAbstractButton *button);
    void controlTextDidChange(const QString &text);
    void refreshPackages();
    void filterInstallerPackage();
    void updateStatsLabel();
    void tableViewSelectionDidChange();

    // Viewing: gathers the selected packages' files in the background and
    // shows them in the view sheet.
    void viewPackage();
    void closeViewPanel();
    void proceedFromInfoToUninstall();

    // Planning: the checks on the main thread, then the plan in the
    // background, then the uninstall sheet.
    void uninstallPackage();
    void cancelUninstall();

    // Carrying the plan out: the confirmation on the main thread, the run
    // on the background queue behind the progress sheet, then the success
    // sheet once the catalogue has lost the packages.
    void continueUninstall();
    void successDone();
    // Takes the packages out of the catalogue and the list, one posted
    // task per package on the main thread; returns at once.
    void removeInfoForPackages(const QList<PackageRecord> &packages);

    // The log menu, rebuilt from the disk, with "Undo Last Uninstall…".
    void updateLogfileMenu();

    // The settings window, showing the stored settings.
    void showSettings();
    SettingsWindow *settingsWindow() const { return m_settingsWindow; }

    // The flows the controller wires: each does its work with no window.
    UninstallFlow &uninstallFlow() const { return *m_uninstall; }
    DocumentationController &documentation() const { return *m_documentation; }
    updates::UpdateController &updates() const { return *m_updates; }

    // What marks a crash report as one of this program's, for the check at
    // start-up.
    static QStringList crashSignatures();

    MainWindow *window() const { return m_window; }
    PackageTableModel *tableModel() const { return m_model; }
    ProgressPanel *progressPanel() const { return m_progress; }
    ViewPanel *viewPanel() const { return m_viewPanel; }
    UninstallPanel *uninstallPanel() const { return m_uninstallPanel; }
    SuccessPanel *successPanel() const { return m_successPanel; }
    const QList<PackageContents::Row> &viewFiles() const { return m_viewFiles; }
    const Catalogue &catalogue() const { return m_catalogue; }
    const QList<PackageRecord> &installerPackagesFiltered() const { return m_filtered; }
    QList<PackageRecord> selectedPackages() const;
    QString viewPackageTitle() const { return m_viewPackageTitle; }
    QString uninstallPackageTitle() const { return m_uninstallPackageTitle; }
    QString uninstallPackage2Title() const { return m_uninstallPackage2Title; }
    bool isRootless() const { return m_isRootless; }

Q_SIGNALS:
    // A new catalogue replaced the old one.
    void catalogueHandedOver();
    // Every shown package has its size.
    void sizePassFinished();
    // The view sheet is up with the gathered rows.
    void viewPanelShown();
    // The uninstall sheet is up with a new plan.
    void uninstallPanelShown();
    // An uninstall ended and its success sheet is up.
    void successPanelShown();
    // An undo ended and its report was answered.
    void undoFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void awakeFromNib();
    void bindOptionCheckBoxes();
    void handOver(std::optional<Catalogue> catalogue);
    void completeFirstScan();
    void showSuccess(const UninstallOutcome &outcome);
    void switchVersionColumn(bool altDown);
    PackageFilter::Mode currentMode() const;

    MainWindow *m_window = nullptr;
    PackageTableModel *m_model = nullptr;
    ProgressPanel *m_progress = nullptr;
    ViewPanel *m_viewPanel = nullptr;
    UninstallPanel *m_uninstallPanel = nullptr;
    SuccessPanel *m_successPanel = nullptr;
    SettingsWindow *m_settingsWindow = nullptr;
    UninstallFlow *m_uninstall = nullptr;
    DocumentationController *m_documentation = nullptr;
    updates::UpdateController *m_updates = nullptr;
    QList<PackageContents::Row> m_viewFiles;

    Catalogue m_catalogue;
    QList<PackageRecord> m_filtered;
    QPointer<QAbstractButton> m_currentFilter;
    QString m_filterString;
    QString m_viewPackageTitle;
    QString m_uninstallPackageTitle;
    QString m_uninstallPackage2Title;
    bool m_isRootless = true;
    bool m_versionColumnSwitched = false;
    bool m_firstScanCompleted = false;
    SizePass *m_sizePass = nullptr;
};

} // namespace dorvane
