#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/catalogue/PackageFilter.h"
#include "dorvane/gui/PromotionWindow.h"
#include "dorvane/planning/UninstallPlan.h"
#include "dorvane/viewing/PackageContents.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

class QAbstractButton;

namespace kestrum {
class RvWebView;
}

namespace dorvane {

namespace updates {
class Updater;
}

class DeleteHelper;
class DocumentationWindow;
class MainWindow;
class PackageTableModel;
class ProgressPanel;
class SettingsWindow;
class SizePass;
class SuccessPanel;
class UninstallPanel;
class ViewPanel;

// The application's controller: it holds the state (the catalogue, what the
// list shows, the command titles) and wires the logic to threads and
// widgets. The work itself is done by the GUI-free classes it calls.
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
    const UninstallPlan &uninstallPlan() const { return m_plan; }

    // Carrying the plan out: the confirmation on the main thread, the run
    // on the background queue behind the progress sheet, then the success
    // sheet once the catalogue has lost the packages.
    void continueUninstall();
    void successDone();
    // Takes the packages out of the catalogue and the list, one posted
    // task per package on the main thread; returns at once.
    void removeInfoForPackages(const QList<PackageRecord> &packages);
    const QVariantList &successFiles() const { return m_successFiles; }

    // The log menu, rebuilt from the disk.
    // "Undo Last Uninstall…": asks, then puts the last run back.
    void undoLastUninstall();
    void updateLogfileMenu();

    // Checks for a new version now, when the updater exists (after the
    // first scan); before, only a warning is logged.
    void checkForUpdatesAction();
    // Applies a menu index of "updatecheckMenuindex" to the updater.
    void setUpdateCheck(qint64 tag);
    updates::Updater *updater() const { return m_updater; }

    // The documentation window, with the promotion page in its small view.
    void openDocumentation();
    // The promotion window, made afresh when it was closed.
    void openPromotion();
    // Opens the maker's mail or page that the sender's "tag" chooses
    // (modulo 256).
    void openURL(const QObject *sender);
    DocumentationWindow *documentationWindow() const { return m_documentationWindow; }
    PromotionWindow *promotionWindow() const { return m_promotionWindow; }
    // The maker's promotion page: the bundle's "PromotionPage" unless set.
    QUrl promotionPage() const;
    void setPromotionPage(const QUrl &page) { m_promotionPage = page; }

    // The settings window, showing the stored settings.
    void showSettings();
    SettingsWindow *settingsWindow() const { return m_settingsWindow; }

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
    QString version() const { return m_version; }
    bool isRootless() const { return m_isRootless; }
    DeleteHelper *deleteHelper() const { return m_deleteHelper.get(); }
    QUrl aboutURL() const { return m_aboutURL; }
    QUrl historyURL() const { return m_historyURL; }
    QUrl faqURL() const { return m_faqURL; }
    QUrl readmeURL() const { return m_readmeURL; }

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
    static void postCatalogueUpdates(const QPointer<AppDelegate> &guard, const QList<PackageRecord> &packages);
    void awakeFromNib();
    void bindOptionCheckBoxes();
    void handOver(std::optional<Catalogue> catalogue);
    void completeFirstScan();
    void showHelpView();
    void configurePromotionView(kestrum::RvWebView *view);
    void loadPromotionPage(kestrum::RvWebView *view);
    void switchVersionColumn(bool altDown);
    PackageFilter::Mode currentMode() const;

    MainWindow *m_window = nullptr;
    PackageTableModel *m_model = nullptr;
    ProgressPanel *m_progress = nullptr;
    ViewPanel *m_viewPanel = nullptr;
    UninstallPanel *m_uninstallPanel = nullptr;
    SuccessPanel *m_successPanel = nullptr;
    SettingsWindow *m_settingsWindow = nullptr;
    DocumentationWindow *m_documentationWindow = nullptr;   // made when first opened
    QPointer<PromotionWindow> m_promotionWindow;           // gone once closed
    QUrl m_promotionPage;
    updates::Updater *m_updater = nullptr;   // made once, after the first scan
    QList<PackageContents::Row> m_viewFiles;
    UninstallPlan m_plan;
    QList<PackageRecord> m_planSelection;   // what the plan was made for, in selection order
    QVariantList m_successFiles;

    Catalogue m_catalogue;
    QList<PackageRecord> m_filtered;
    QPointer<QAbstractButton> m_currentFilter;
    QString m_filterString;
    QString m_viewPackageTitle;
    QString m_uninstallPackageTitle;
    QString m_uninstallPackage2Title;
    QString m_version;
    QUrl m_aboutURL, m_historyURL, m_faqURL, m_readmeURL;
    bool m_isRootless = true;
    bool m_versionColumnSwitched = false;
    bool m_firstScanCompleted = false;
    SizePass *m_sizePass = nullptr;
    // Shared with a running uninstall, which may outlive the window.
    std::shared_ptr<DeleteHelper> m_deleteHelper;
};

} // namespace dorvane
