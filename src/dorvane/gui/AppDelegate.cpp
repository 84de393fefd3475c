#include "dorvane/gui/AppDelegate.h"

#include "dorvane/ProtectionStatus.h"
#include "dorvane/Settings.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/SizePass.h"
#include "dorvane/gui/DocumentationWindow.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/PackageTableModel.h"
#include "dorvane/gui/ProgressPanel.h"
#include "dorvane/gui/PromotionWindow.h"
#include "dorvane/gui/SettingsWindow.h"
#include "dorvane/gui/SheetWork.h"
#include "dorvane/gui/SuccessPanel.h"
#include "dorvane/gui/UninstallPanel.h"
#include "dorvane/gui/ViewPanel.h"
#include "dorvane/helper/DeleteHelper.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/uninstall/UninstallRun.h"
#include "dorvane/updates/Updater.h"
#include "kestrum/Alert.h"
#include "kestrum/CrashReporter.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "kestrum/Resources.h"
#include "kestrum/web/RvWebView.h"
#include "platform/Bundle.h"
#include "platform/ProcessEnd.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QSignalBlocker>
#include <QGraphicsOpacityEffect>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPropertyAnimation>
#include <QtConcurrentRun>

namespace dorvane {

namespace {

// The hint fades after this long, over a second.
constexpr int kHelpViewMilliseconds = 30000;
constexpr int kHelpFadeMilliseconds = 1000;

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
    connect(ui.checkForUpdatesAction, &QAction::triggered, this, &AppDelegate::checkForUpdatesAction);
    connect(m_settingsWindow, &SettingsWindow::updateIntervalChosen, this, &AppDelegate::setUpdateCheck);
    connect(ui.tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AppDelegate::tableViewSelectionDidChange);
    for (QAction *action : {ui.supportMailAction, ui.betaMailAction, ui.vendorPageAction, ui.storePageAction,
                            ui.macupdatePageAction})
        connect(action, &QAction::triggered, this, [this, action] { openURL(action); });
    connect(ui.documentationAction, &QAction::triggered, this, &AppDelegate::openDocumentation);
    connect(ui.promotionAction, &QAction::triggered, this, &AppDelegate::openPromotion);
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
    m_deleteHelper = std::make_shared<DeleteHelper>();
    // What the quarantine kept longer than the setting allows goes, as
    // old logs do; in the background, since it asks the helper.
    (void)QtConcurrent::run([helper = m_deleteHelper] {
        KeptRuns::emptyExpired(*helper, QDateTime::currentDateTimeUtc(), KeptRuns::keepDays());
    });
    Settings::recordLaunchDate();
    m_version = kestrum::makeString("v%@ (%i)", shared.appVersionString(), shared.appBuildNumber());
    m_aboutURL = kestrum::resourceURL(QStringLiteral("Credits.md"));
    m_historyURL = kestrum::resourceURL(QStringLiteral("History.md"));
    m_faqURL = kestrum::resourceURL(QStringLiteral("FAQ.md"));
    m_readmeURL = kestrum::resourceURL(QStringLiteral("Read Me.md"));
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
    runBehindSheet(*m_progress, this, QStringLiteral("Scanning Packages"),
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
        showHelpView();
    m_updater = new updates::Updater(this);
    setUpdateCheck(kestrum::DefaultsKey(Settings::kUpdateCheckMenuIndex).defaultInt());
}

void AppDelegate::checkForUpdatesAction()
{
    if (!m_updater) {
        kestrum::asl_NSLog(kestrum::LogWarning, QStringLiteral("Warning: the sparkle updater is not available!"));
        return;
    }
    m_updater->checkForUpdates();
}

void AppDelegate::setUpdateCheck(qint64 tag)
{
    if (m_updater)
        m_updater->setUpdateCheck(tag);
}

void AppDelegate::openURL(const QObject *sender)
{
    if (kestrum::hx)
        kestrum::hx->openURL(quint8(sender->property("tag").toLongLong() % 256));
}

void AppDelegate::openDocumentation()
{
    if (!m_documentationWindow) {
        m_documentationWindow = new DocumentationWindow(m_window);
        configurePromotionView(m_documentationWindow->smallPromotionWebView());
    }
    m_documentationWindow->setDocuments({m_aboutURL, m_historyURL, m_faqURL, m_readmeURL});
    m_documentationWindow->setVersion(m_version);
    loadPromotionPage(m_documentationWindow->smallPromotionWebView());
    m_documentationWindow->show();
    m_documentationWindow->raise();
    m_documentationWindow->activateWindow();
}

void AppDelegate::openPromotion()
{
    if (!m_promotionWindow) {
        m_promotionWindow = new PromotionWindow(m_window);
        configurePromotionView(m_promotionWindow->promotionWebView());
    }
    loadPromotionPage(m_promotionWindow->promotionWebView());
    m_promotionWindow->show();
    m_promotionWindow->raise();
    m_promotionWindow->activateWindow();
}

QUrl AppDelegate::promotionPage() const
{
    if (!m_promotionPage.isEmpty())
        return m_promotionPage;
    return QUrl(platform::Bundle::main().infoValue(QStringLiteral("PromotionPage")).toString());
}

void AppDelegate::configurePromotionView(kestrum::RvWebView *view)
{
    // The page is the view's live page: links elsewhere go to the browser,
    // and offline the shipped copy stands in.
    view->setRemoteHTMLURL(promotionPage().toString());
    // Whichever view finished, the small one shows the page at 58.75 %.
    connect(view, &QWebEngineView::loadFinished, this, [this] {
        if (m_documentationWindow)
            m_documentationWindow->smallPromotionWebView()->page()->runJavaScript(kestrum::zoomScript(0.5875));
    });
}

void AppDelegate::loadPromotionPage(kestrum::RvWebView *view)
{
    // A view not yet shown loads the page itself when it first appears.
    if (view->initialLoadStarted())
        view->load(promotionPage());
}

void AppDelegate::showHelpView()
{
    QWidget *help = m_window->helpView();
    help->show();
    help->raise();
    QPointer<QWidget> guard(help);
    kestrum::dispatch_after_main([guard] {
        if (!guard)
            return;
        auto *effect = new QGraphicsOpacityEffect(guard);
        guard->setGraphicsEffect(effect);
        auto *fade = new QPropertyAnimation(effect, "opacity", guard);
        fade->setDuration(kHelpFadeMilliseconds);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        QObject::connect(fade, &QPropertyAnimation::finished, guard, &QWidget::hide);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }, kHelpViewMilliseconds / 1000.0f);
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
        *m_progress, this, QStringLiteral("Scanning Package Contents"),
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
    const QList<PackageRecord> selection = selectedPackages();
    UninstallChecks checks;
    if (!checks.mayPlan(selection))
        return;

    const Catalogue catalogue = m_catalogue;
    const bool rootless = m_isRootless;
    runBehindSheet(
        *m_progress, this, UninstallPlanner::kProgressTitle,
        [selection, catalogue, rootless](const SheetProgress &progress) {
            return UninstallPlanner::plan(selection, catalogue, rootless, progress);
        },
        [this, selection](UninstallPlan plan) {
            m_plan = std::move(plan);
            m_planSelection = selection;
            m_uninstallPanel->setTree(m_plan.uninstallFiles);
            m_uninstallPanel->setContinueTitle(m_uninstallPackage2Title);
            m_uninstallPanel->open();
            Q_EMIT uninstallPanelShown();
        });
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
    if (!UninstallRun::confirm(m_planSelection))
        return;
    m_uninstallPanel->hide();
    if (!m_deleteHelper)
        return;
    const std::shared_ptr<DeleteHelper> helper = m_deleteHelper;
    const QList<PackageRecord> selection = m_planSelection;
    const UninstallPlan plan = m_plan;
    QPointer<AppDelegate> guard(this);
    runBehindSheet(
        *m_progress, this, UninstallRun::progressTitle(selection.size()),
        [helper, selection, plan, guard](const SheetProgress &progress) {
            UninstallRun run(plan, selection, *helper);
            return run.execute(progress, [guard](const QList<PackageRecord> &packages) {
                postCatalogueUpdates(guard, packages);
            });
        },
        // Posted after the catalogue updates, so the list is current when
        // the sheet appears.
        [this](const UninstallOutcome &outcome) {
            m_successFiles = outcome.successFiles();
            m_successPanel->setTree(outcome.successSections());
            m_successPanel->setKeptNote(outcome.keptText());
            m_window->raise();
            m_window->activateWindow();
            m_successPanel->open();
            updateLogfileMenu();
            // The uninstall is done; only its record is missing.
            if (!outcome.logError.isEmpty())
                kestrum::alert(QStringLiteral("Warning"),
                               kestrum::makeString("The uninstall log could not be written: %@", outcome.logError));
            Q_EMIT successPanelShown();
        });
}

void AppDelegate::successDone()
{
    m_successPanel->hide();
    LogFiles::checkLogfileFolderSize();
}

void AppDelegate::removeInfoForPackages(const QList<PackageRecord> &packages)
{
    postCatalogueUpdates(this, packages);
}

void AppDelegate::postCatalogueUpdates(const QPointer<AppDelegate> &guard, const QList<PackageRecord> &packages)
{
    // The guard is only read on the main thread, where the controller dies.
    for (const PackageRecord &package : packages) {
        kestrum::dispatch_async_main([guard, package] {
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
    menu->addAction(QStringLiteral("Undo Last Uninstall…"), this, &AppDelegate::undoLastUninstall);
}

void AppDelegate::undoLastUninstall()
{
    if (!m_deleteHelper)
        return;
    // Every step asks the helper, so none runs on the main thread.
    const std::shared_ptr<DeleteHelper> helper = m_deleteHelper;
    runBehindSheet(
        *m_progress, this, QStringLiteral("Looking for the last uninstall"),
        [helper](const SheetProgress &) {
            QString error;
            const std::optional<KeptRun> run = KeptRuns::last(*helper, &error);
            return std::make_pair(run, error);
        },
        [this, helper](const std::pair<std::optional<KeptRun>, QString> &found) {
            if (!found.first) {
                kestrum::alert(QStringLiteral("Undo Last Uninstall"),
                               found.second.isEmpty() ? QStringLiteral("The quarantine keeps no uninstall to undo.")
                                                      : found.second,
                               QStringLiteral("OK"));
                return;
            }
            if (kestrum::alert(QStringLiteral("Undo Last Uninstall"), KeptRuns::undoQuestion(*found.first),
                               QStringLiteral("Undo"), QStringLiteral("Cancel"))
                != 1000)
                return;
            const QString run = found.first->run;
            runBehindSheet(
                *m_progress, this, QStringLiteral("Restoring Packages"),
                [helper, run](const SheetProgress &) { return KeptRuns::undo(*helper, run); },
                [this](const UndoOutcome &outcome) {
                    kestrum::alert(QStringLiteral("Undo Last Uninstall"), outcome.report().join(QLatin1Char('\n')),
                                   QStringLiteral("OK"));
                    updateLogfileMenu();
                    update();   // the packages are listed again
                    Q_EMIT undoFinished();
                });
        });
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
