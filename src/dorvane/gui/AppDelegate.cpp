#include "dorvane/gui/AppDelegate.h"

#include "dorvane/ProtectionStatus.h"
#include "dorvane/Settings.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/SizePass.h"
#include "dorvane/gui/DocumentationController.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/PackageTableModel.h"
#include "dorvane/gui/ProgressPanel.h"
#include "dorvane/gui/SettingsWindow.h"
#include "dorvane/gui/SheetWork.h"
#include "dorvane/gui/SuccessPanel.h"
#include "dorvane/gui/UninstallFlow.h"
#include "dorvane/gui/UninstallPanel.h"
#include "dorvane/gui/ViewPanel.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "dorvane/updates/UpdateController.h"
#include "kestrum/Alert.h"
#include "kestrum/CrashReporter.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "platform/ProcessEnd.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <QtConcurrentRun>

namespace dorvane {

namespace {

// Where crash reports are mailed, and what marks a report as one of ours:
// frames of the controller and the package code as the Mac names them, the
// line the exception handler writes, and, last, the program's own frames as
// a Linux backtrace names them (mangled: "_ZN7dorvane...", "_ZN7kestrum...").
const char kCrashReportAddress[] = "crashreports@dorvane.example";

} // namespace

QStringList AppDelegate::crashSignatures()
{
    return {QStringLiteral("[Delete"),      QStringLiteral("[Value"),  QStringLiteral("[Package"),
            QStringLiteral("AppDele"),      QStringLiteral("[NSException"), QStringLiteral("uncaught exception"),
            QStringLiteral("7dorvane"),     QStringLiteral("7kestrum")};
}

AppDelegate::AppDelegate()
{
    m_window = new MainWindow;
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_model = new PackageTableModel(this);
    m_progress = new ProgressPanel(m_window);
    m_viewPanel = new ViewPanel(m_window);
    m_uninstallPanel = new UninstallPanel(m_window);
    m_successPanel = new SuccessPanel(m_window);
    m_settingsWindow = new SettingsWindow(m_window);
    m_sizePass = new SizePass(this);
    m_uninstall = new UninstallFlow(m_progress->feed(), this);
    m_documentation = new DocumentationController(m_window, this);
    m_updates = new updates::UpdateController(this);
    awakeFromNib();
}

AppDelegate::~AppDelegate()
{
    qApp->removeEventFilter(this);
    delete m_window;
}

void AppDelegate::awakeFromNib()
{
    Ui::MainWindow &ui = m_window->ui();
    ui.tableView->setModel(m_model);
    ui.tableView->verticalHeader()->hide();
    ui.tableView->verticalHeader()->setDefaultSectionSize(22);
    ui.tableView->horizontalHeader()->setSectionResizeMode(PackageTableModel::ColumnName, QHeaderView::Stretch);
    ui.tableView->horizontalHeader()->resizeSection(PackageTableModel::ColumnVersion, 160);
    ui.tableView->horizontalHeader()->resizeSection(PackageTableModel::ColumnSize, 100);
    ui.tableView->setIconSize(QSize(16, 16));

    for (QAbstractButton *button : {static_cast<QAbstractButton *>(ui.selectAllButton),
                                    static_cast<QAbstractButton *>(ui.selectAppsButton),
                                    static_cast<QAbstractButton *>(ui.selectDefunctButton)}) {
        connect(button, &QAbstractButton::clicked, this, [this, button] { selectFilterClicked(button); });
    }
    connect(ui.searchField, &QLineEdit::textChanged, this, &AppDelegate::controlTextDidChange);
    connect(ui.refreshButton, &QAbstractButton::clicked, this, &AppDelegate::refreshPackages);
    connect(ui.refreshAction, &QAction::triggered, this, &AppDelegate::refreshPackages);
    connect(ui.quitAction, &QAction::triggered, qApp, &QApplication::quit);
    connect(ui.preferencesAction, &QAction::triggered, this, &AppDelegate::showSettings);
    connect(ui.checkForUpdatesAction, &QAction::triggered, m_updates, &updates::UpdateController::checkForUpdates);
    connect(m_settingsWindow, &SettingsWindow::updateIntervalChosen, m_updates,
            &updates::UpdateController::setUpdateCheck);
    connect(ui.tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AppDelegate::tableViewSelectionDidChange);
    for (QAction *action : {ui.supportMailAction, ui.betaMailAction, ui.vendorPageAction, ui.storePageAction,
                            ui.macupdatePageAction})
        connect(action, &QAction::triggered, this, [action] { DocumentationController::openURL(action); });
    connect(ui.documentationAction, &QAction::triggered, m_documentation, &DocumentationController::openDocumentation);
    connect(ui.promotionAction, &QAction::triggered, m_documentation, &DocumentationController::openPromotion);
    // Closing the main window ends the application.
    connect(m_window, &MainWindow::closing, qApp, &QApplication::quit, Qt::QueuedConnection);

    connect(ui.tableView, &QAbstractItemView::doubleClicked, this, &AppDelegate::viewPackage);
    connect(ui.viewButton, &QAbstractButton::clicked, this, &AppDelegate::viewPackage);
    connect(ui.viewAction, &QAction::triggered, this, &AppDelegate::viewPackage);
    connect(m_viewPanel, &ViewPanel::closeRequested, this, &AppDelegate::closeViewPanel);
    connect(m_viewPanel, &ViewPanel::uninstallRequested, this, &AppDelegate::proceedFromInfoToUninstall);
    connect(ui.uninstallButton, &QAbstractButton::clicked, this, &AppDelegate::uninstallPackage);
    connect(ui.uninstallAction, &QAction::triggered, this, &AppDelegate::uninstallPackage);
    connect(m_uninstallPanel, &UninstallPanel::cancelRequested, this, &AppDelegate::cancelUninstall);
    connect(m_uninstallPanel, &UninstallPanel::continueRequested, this, &AppDelegate::continueUninstall);
    connect(m_successPanel, &SuccessPanel::doneRequested, this, &AppDelegate::successDone);
    connect(m_uninstall, &UninstallFlow::planned, this, [this] {
        m_uninstallPanel->setTree(m_uninstall->currentPlan().uninstallFiles);
        m_uninstallPanel->setContinueTitle(m_uninstallPackage2Title);
        m_uninstallPanel->open();
        Q_EMIT uninstallPanelShown();
    });
    connect(m_uninstall, &UninstallFlow::finished, this, &AppDelegate::showSuccess);
    connect(m_uninstall, &UninstallFlow::undone, this, [this] {
        updateLogfileMenu();
        update();   // the packages are listed again
        Q_EMIT undoFinished();
    });
    connect(m_sizePass, &SizePass::packageSized, m_model, &PackageTableModel::sizeChanged);
    connect(m_sizePass, &SizePass::finished, this, [this] {
        updateStatsLabel();
        Q_EMIT sizePassFinished();
    });

    bindOptionCheckBoxes();
    Settings::countLaunch();
    qApp->installEventFilter(this);
}

void AppDelegate::bindOptionCheckBoxes()
{
    // The Advanced Options, in the main window and the settings window,
    // write their settings directly, as bindings would, and a box shows
    // what its twin in the other window set.
    QList<QCheckBox *> boxes = m_window->findChildren<QCheckBox *>() + m_settingsWindow->findChildren<QCheckBox *>();
    boxes.removeIf([](QCheckBox *box) { return box->property("defaultsKey").toString().isEmpty(); });
    for (QCheckBox *box : std::as_const(boxes)) {
        const QString key = box->property("defaultsKey").toString();
        box->setChecked(kestrum::DefaultsKey(key).defaultInt() != 0);
        connect(box, &QCheckBox::toggled, this, [key, boxes](bool checked) {
            kestrum::DefaultsKey(key).setDefaultInt(checked ? 1 : 0);
            for (QCheckBox *twin : boxes) {
                if (twin->property("defaultsKey").toString() == key && twin->isChecked() != checked) {
                    const QSignalBlocker quiet(twin);
                    twin->setChecked(checked);
                }
            }
        });
    }
}

void AppDelegate::applicationDidFinishLaunching()
{
    static kestrum::Kestrum shared;
    // Nothing can be removed without the helper: no point in going on.
    if (const std::optional<HelperError> error = DeleteHelper::blessHelper()) {
        kestrum::alert(QStringLiteral("Error"),
                       kestrum::makeString("Failed to install the helper tool for deleting packages. Perhaps you did "
                                           "not enter the correct password for installation. (Error: %@)",
                                           error->description()),
                       QStringLiteral("Quit"));
        platform::endProcess(1);
    }
    LogFiles::migrateLogfiles();
    LogFiles::pruneOldLogfiles();
    LogFiles::checkLogfileFolderSize();
    updateLogfileMenu();
    const auto helper = std::make_shared<DeleteHelper>();
    m_uninstall->setDeleteHelper(helper);
    // What the quarantine kept longer than the setting allows goes, as
    // old logs do; in the background, since it asks the helper.
    (void)QtConcurrent::run([helper] {
        KeptRuns::emptyExpired(*helper, QDateTime::currentDateTimeUtc(), KeptRuns::keepDays());
    });
    Settings::recordLaunchDate();
    m_documentation->setUp(kestrum::makeString("v%@ (%i)", shared.appVersionString(), shared.appBuildNumber()));
    Settings::runMigrations();
    selectFilterClicked(m_window->ui().selectAllButton);
    Settings::resetToolTipDelay();
    kestrum::RvCrashReporter::CheckAndReportCrashes(QString::fromLatin1(kCrashReportAddress), crashSignatures());
    m_isRootless = ProtectionStatus::isRootless();
    // Only now: a scan scheduled earlier would run inside the crash
    // question's event loop, under a question nobody has answered yet.
    update();
}

void AppDelegate::update()
{
    const QString icon = CatalogueScanner::damagedIconPath();
    runBehindSheet(m_progress->feed(), this, QStringLiteral("Scanning Packages"),
                   [icon](const SheetProgress &progress) { return CatalogueScanner::scan(icon, progress); },
                   [this](std::optional<Catalogue> catalogue) { handOver(std::move(catalogue)); });
}

void AppDelegate::handOver(std::optional<Catalogue> catalogue)
{
    if (!catalogue) {
        kestrum::alert(QStringLiteral("Error"), CatalogueScanner::kNoPackagesMessage, QStringLiteral("OK"));
        platform::endProcess(1);
    }
    m_catalogue = std::move(*catalogue);
    m_window->ui().refreshButton->setChecked(false);
    filterInstallerPackage();
    // A refresh while a pass still runs: the old pass stops at its next
    // package, so each row's size comes from its own scan's file list.
    m_sizePass->start(m_catalogue);
    Q_EMIT catalogueHandedOver();
    if (!m_firstScanCompleted) {
        m_firstScanCompleted = true;
        completeFirstScan();
    }
}

void AppDelegate::completeFirstScan()
{
    if (kestrum::DefaultsKey(Settings::kLaunches).defaultInt() <= 2)
        m_window->showHelpView();
    m_updates->start();
}

PackageFilter::Mode AppDelegate::currentMode() const
{
    const Ui::MainWindow &ui = m_window->ui();
    if (!m_currentFilter)
        return PackageFilter::Mode::None;
    if (m_currentFilter == ui.selectAllButton)
        return PackageFilter::Mode::All;
    if (m_currentFilter == ui.selectAppsButton)
        return PackageFilter::Mode::Applications;
    if (m_currentFilter == ui.selectDefunctButton)
        return PackageFilter::Mode::Defunct;
    return PackageFilter::Mode::None;
}

void AppDelegate::selectFilterClicked(QAbstractButton *button)
{
    Ui::MainWindow &ui = m_window->ui();
    for (QAbstractButton *b : {static_cast<QAbstractButton *>(ui.selectAllButton),
                               static_cast<QAbstractButton *>(ui.selectAppsButton),
                               static_cast<QAbstractButton *>(ui.selectDefunctButton)})
        b->setChecked(false);
    button->setChecked(true);
    m_currentFilter = button;
    filterInstallerPackage();
}

void AppDelegate::controlTextDidChange(const QString &text)
{
    m_filterString = text;
    filterInstallerPackage();
}

void AppDelegate::refreshPackages()
{
    // On until the new catalogue is handed over.
    m_window->ui().refreshButton->setChecked(true);
    update();
}

void AppDelegate::filterInstallerPackage()
{
    m_filtered = PackageFilter::filter(m_catalogue, currentMode(), m_filterString);
    m_model->setPackages(m_filtered);
    updateStatsLabel();
    tableViewSelectionDidChange();
}

void AppDelegate::updateStatsLabel()
{
    m_window->ui().statsLabel->setText(PackageFilter::statistics(m_filtered));
}

QList<PackageRecord> AppDelegate::selectedPackages() const
{
    QList<PackageRecord> selected;
    const QModelIndexList rows = m_window->ui().tableView->selectionModel()->selectedRows();
    QList<int> numbers;
    for (const QModelIndex &index : rows)
        numbers.append(index.row());
    std::sort(numbers.begin(), numbers.end());
    for (int row : numbers)
        selected.append(m_model->packageAt(row));
    return selected;
}

void AppDelegate::tableViewSelectionDidChange()
{
    const qsizetype n = m_window->ui().tableView->selectionModel()->selectedRows().size();
    if (n > 1) {
        m_uninstallPackage2Title = kestrum::makeString("Uninstall %li Packages", qint64(n));
        m_uninstallPackageTitle = kestrum::makeString("Uninstall %li Packages…", qint64(n));
        m_viewPackageTitle = kestrum::makeString("View %li Packages…", qint64(n));
    } else {
        m_uninstallPackage2Title = QStringLiteral("Uninstall Package");
        m_uninstallPackageTitle = QStringLiteral("Uninstall Package…");
        m_viewPackageTitle = QStringLiteral("View Package…");
    }
    Ui::MainWindow &ui = m_window->ui();
    ui.viewButton->setText(m_viewPackageTitle);
    ui.viewAction->setText(m_viewPackageTitle);
    ui.uninstallButton->setText(m_uninstallPackageTitle);
    ui.uninstallAction->setText(m_uninstallPackageTitle);
}

void AppDelegate::viewPackage()
{
    const QList<PackageRecord> selection = selectedPackages();
    const Catalogue catalogue = m_catalogue; // shares the maps; the scan never changes them in place
    runBehindSheet(
        m_progress->feed(), this, QStringLiteral("Scanning Package Contents"),
        [selection, catalogue](const SheetProgress &progress) {
            return PackageContents::gather(selection, catalogue, progress);
        },
        [this](const PackageContents &contents) {
            m_viewFiles = contents.rows;
            m_viewPanel->setRows(contents.rows);
            m_viewPanel->setUninstallTitle(m_uninstallPackage2Title);
            m_viewPanel->open();
            Q_EMIT viewPanelShown();
            if (contents.anyDamaged)
                kestrum::alert_apptitled(PackageContents::kDamagedMessage, QStringLiteral("OK"));
        });
}

void AppDelegate::closeViewPanel()
{
    m_viewPanel->hide();
}

void AppDelegate::proceedFromInfoToUninstall()
{
    m_viewPanel->hide();
    uninstallPackage();
}

void AppDelegate::uninstallPackage()
{
    m_uninstall->plan(selectedPackages(), m_catalogue, m_isRootless);
}

void AppDelegate::cancelUninstall()
{
    // The plan stays as it was: only the sheet closes.
    m_uninstallPanel->hide();
}

void AppDelegate::showSettings()
{
    m_settingsWindow->reload();
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void AppDelegate::continueUninstall()
{
    // "Cancel" leaves the sheet open with the same plan.
    if (!m_uninstall->confirm())
        return;
    m_uninstallPanel->hide();
    // Already on the main thread, in the order the run forgot them.
    m_uninstall->carryOut([this](const QList<PackageRecord> &packages) {
        for (const PackageRecord &package : packages)
            m_catalogue.forgetPackage(package);
        filterInstallerPackage();
    });
}

void AppDelegate::showSuccess(const UninstallOutcome &outcome)
{
    m_successPanel->setTree(outcome.successSections());
    m_successPanel->setKeptNote(outcome.keptText());
    m_window->raise();
    m_window->activateWindow();
    m_successPanel->open();
    updateLogfileMenu();
    Q_EMIT successPanelShown();
}

void AppDelegate::successDone()
{
    m_successPanel->hide();
    LogFiles::checkLogfileFolderSize();
}

void AppDelegate::removeInfoForPackages(const QList<PackageRecord> &packages)
{
    for (const PackageRecord &package : packages) {
        kestrum::dispatch_async_main([guard = QPointer<AppDelegate>(this), package] {
            if (!guard)
                return;
            guard->m_catalogue.forgetPackage(package);
            guard->filterInstallerPackage();
        });
    }
}

void AppDelegate::updateLogfileMenu()
{
    QMenu *menu = m_window->ui().logfileMenu;
    menu->clear();
    for (const QString &title : LogFiles::logfileMenuTitles()) {
        if (title.isEmpty())
            menu->addSeparator();
        else
            menu->addAction(title, this, [title] { LogFiles::openLogfile(title); });
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("Undo Last Uninstall…"), m_uninstall, &UninstallFlow::undoLast);
}

void AppDelegate::switchVersionColumn(bool altDown)
{
    if (altDown && !m_versionColumnSwitched) {
        m_model->setShowsInstaller(true);
        m_versionColumnSwitched = true;
    } else if (!altDown && m_versionColumnSwitched) {
        m_model->setShowsInstaller(false);
        m_versionColumnSwitched = false;
    }
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // The modifier monitor: every key event of the application tells the
    // state of Alt; the event itself goes on unchanged.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        bool altDown = key->modifiers().testFlag(Qt::AltModifier);
        // Qt reports the modifiers as they were before the key itself.
        if (key->key() == Qt::Key_Alt)
            altDown = event->type() == QEvent::KeyPress;
        switchVersionColumn(altDown);
    } else if (event->type() == QEvent::ApplicationDeactivate) {
        switchVersionColumn(false);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace dorvane
