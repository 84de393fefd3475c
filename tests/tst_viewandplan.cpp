#include "dorvane/StartUp.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/UninstallFlow.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/PackageTableModel.h"
#include "dorvane/gui/UninstallPanel.h"
#include "dorvane/gui/ViewPanel.h"
#include "kestrum/FileSystem.h"
#include "support/ScriptedPresenter.h"
#include "support/VolumeFixture.h"
#include "ui_MainWindow.h"

#include "VolumeGenerator.h"

#include <QColor>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTreeWidget>

using namespace dorvane;

// Viewing a package's files and planning its uninstall from the window, on
// the demo volume.
class ViewAndPlanTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }
    void init();
    void cleanup()
    {
        m_delegate.reset();
        // Work still running reads this volume; let it end before the next test's.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
        m_script.reset();
        m_volume.reset();
    }

    void viewListsRowsInSelectionAndBillOrder();
    void damagedPackagesAreReportedOnceAfterTheSheet();
    void doubleClickViewsThenProceedingPlans();
    void planSheetShowsTheTreeExpanded();
    void essentialPackageStopsBeforePlanning();

private:
    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<AppDelegate> m_delegate;

    void select(const QStringList &identifiers);
};

// Records, with each question, whether the view sheet was up at the time.
class WitnessPresenter : public kestrum::AlertPresenter
{
public:
    explicit WitnessPresenter(QWidget *sheet) : m_sheet(sheet) {}
    kestrum::AlertAnswer present(const kestrum::AlertQuestion &question) override
    {
        questions.append(question);
        sheetVisible.append(m_sheet->isVisible());
        return {};
    }
    QList<kestrum::AlertQuestion> questions;
    QList<bool> sheetVisible;

private:
    QWidget *m_sheet;
};

void ViewAndPlanTest::init()
{
    m_volume = std::make_unique<VolumeFixture>(QStringLiteral("/Users/demo"));
    QString error;
    QVERIFY2(volumegen::buildDemoVolume(m_volume->root(), volumegen::VolumeOptions(), nullptr, &error),
             qPrintable(error));
    m_script = std::make_unique<ScriptedPresenterScope>();
    m_delegate = std::make_unique<AppDelegate>();
    m_delegate->window()->show();
    QSignalSpy handedOver(m_delegate.get(), &AppDelegate::catalogueHandedOver);
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(handedOver.wait(20000));
}

void ViewAndPlanTest::select(const QStringList &identifiers)
{
    QTableView *table = m_delegate->window()->ui().tableView;
    table->clearSelection();
    for (const QString &identifier : identifiers) {
        const QList<PackageRecord> &rows = m_delegate->tableModel()->packages();
        for (int row = 0; row < rows.size(); ++row) {
            if (rows.at(row).packageIdentifier() == identifier)
                table->selectionModel()->select(m_delegate->tableModel()->index(row, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
}

void ViewAndPlanTest::viewListsRowsInSelectionAndBillOrder()
{
    // Core and Studio list the same shared framework.
    select({"org.tessellate.pkg.Core", "io.halcyonlabs.Drift"});
    QSignalSpy shown(m_delegate.get(), &AppDelegate::viewPanelShown);
    m_delegate->viewPackage();
    QVERIFY(shown.wait(10000));
    QVERIFY(m_delegate->viewPanel()->isVisible());

    const Catalogue &catalogue = m_delegate->catalogue();
    QStringList expected;
    for (const PackageRecord &record : m_delegate->selectedPackages())
        expected += catalogue.filesForPackage(record.packageIdentifier());
    QStringList shownPaths;
    int red = 0;
    for (const PackageContents::Row &row : m_delegate->viewFiles()) {
        shownPaths << row.text;
        QCOMPARE(row.exists, kestrum::fileExists(row.text));
        red += row.exists ? 0 : 1;
    }
    QCOMPARE(shownPaths, expected);
    QVERIFY(red > 0); // Drift's application is gone

    ViewRowsModel *model = m_delegate->viewPanel()->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        const QColor color = model->index(i).data(Qt::ForegroundRole).value<QColor>();
        QCOMPARE(color, model->rows().at(i).exists ? QColor(Qt::black) : QColor(Qt::red));
    }
    QVERIFY(m_script->presenter().questions().isEmpty());
    m_delegate->closeViewPanel();
    QVERIFY(!m_delegate->viewPanel()->isVisible());
    QCOMPARE(m_delegate->viewFiles().size(), expected.size()); // closing keeps the rows
}

void ViewAndPlanTest::damagedPackagesAreReportedOnceAfterTheSheet()
{
    auto witness = std::make_shared<WitnessPresenter>(m_delegate->viewPanel());
    const auto previous = kestrum::setAlertPresenter(witness);
    // Prism's bill cannot be opened; its legacy sibling is listed too.
    select({"com.lumenfold.Prism", "com.northwind.pkg.Ledger"});
    QSignalSpy shown(m_delegate.get(), &AppDelegate::viewPanelShown);
    m_delegate->viewPackage();
    QVERIFY(shown.wait(10000));
    QTRY_COMPARE(witness->questions.size(), 1);
    QCOMPARE(witness->questions.first().title, QStringLiteral("Dorvane"));
    QCOMPARE(witness->questions.first().message,
             QStringLiteral("The package is damaged - its contents can not be read as the BOM file is corrupt. "
                            "You should uninstall it."));
    QCOMPARE(witness->questions.first().buttons, QStringList{"OK"});
    QCOMPARE(witness->sheetVisible.first(), true);
    kestrum::setAlertPresenter(previous);
}

// A double-click views the row; Uninstall on the view sheet plans the same selection.
void ViewAndPlanTest::doubleClickViewsThenProceedingPlans()
{
    select({"com.saltmarsh.Tide"});
    QSignalSpy viewed(m_delegate.get(), &AppDelegate::viewPanelShown);
    QTableView *table = m_delegate->window()->ui().tableView;
    const QModelIndex index = table->selectionModel()->selectedRows().first();
    // A double-click is a press, a release, then the double-click itself.
    const QPoint where = table->visualRect(index).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, where);
    QVERIFY(viewed.wait(10000));
    QVERIFY(!m_delegate->viewFiles().isEmpty());

    QSignalSpy planned(m_delegate.get(), &AppDelegate::uninstallPanelShown);
    m_delegate->proceedFromInfoToUninstall();
    QVERIFY(!m_delegate->viewPanel()->isVisible());
    QVERIFY(planned.wait(10000));
    QVERIFY(m_delegate->uninstallPanel()->isVisible());
    QVERIFY(!m_delegate->uninstallFlow().currentPlan().removeFiles.isEmpty());
    for (const platform::LogicalPath &path : m_delegate->uninstallFlow().currentPlan().removeFiles)
        QVERIFY(m_delegate->catalogue().packagesForFile(path.toString()).contains("com.saltmarsh.Tide"));
}

void ViewAndPlanTest::planSheetShowsTheTreeExpanded()
{
    select({"com.northwind.pkg.Ledger", "org.tessellate.pkg.Studio"});
    QSignalSpy planned(m_delegate.get(), &AppDelegate::uninstallPanelShown);
    m_delegate->uninstallPackage();
    QVERIFY(planned.wait(10000));
    QTreeWidget *tree = m_delegate->uninstallPanel()->tree();
    const QList<PlanSection> &sections = m_delegate->uninstallFlow().currentPlan().uninstallFiles;
    QCOMPARE(tree->topLevelItemCount(), int(sections.size()));
    QVERIFY(!sections.isEmpty());
    for (int i = 0; i < sections.size(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        QCOMPARE(item->text(0), sections.at(i).name);
        QVERIFY(item->text(0).startsWith(QStringLiteral("• ")));
        QCOMPARE(item->childCount(), int(sections.at(i).children.size()));
        QVERIFY(item->isExpanded());
    }
    QVERIFY(tree->selectedItems().isEmpty());
    QCOMPARE(m_delegate->uninstallPanel()->findChild<QPushButton *>("continueButton")->text(),
             QStringLiteral("Uninstall 2 Packages"));

    // Cancelling closes the sheet and keeps the plan.
    const UninstallPlan plan = m_delegate->uninstallFlow().currentPlan();
    m_delegate->cancelUninstall();
    QVERIFY(!m_delegate->uninstallPanel()->isVisible());
    QCOMPARE(m_delegate->uninstallFlow().currentPlan(), plan);
}

void ViewAndPlanTest::essentialPackageStopsBeforePlanning()
{
    select({"com.saltmarsh.Tide", "com.apple.pkg.BSD"});
    QSignalSpy planned(m_delegate.get(), &AppDelegate::uninstallPanelShown);
    m_delegate->uninstallPackage();
    QCOMPARE(m_script->presenter().questions().size(), 1);
    const kestrum::AlertQuestion question = m_script->presenter().questions().first();
    QCOMPARE(question.title, QStringLiteral("Error"));
    QVERIFY(question.message.startsWith("You can't uninstall the essential system package 'com.apple.pkg.BSD'"));
    // The checks ran on the main thread and queued nothing: once the
    // background queue and the main thread's queue are empty, nothing came.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(planned.size(), 0);
    QVERIFY(!m_delegate->uninstallPanel()->isVisible());
}

QTEST_MAIN(ViewAndPlanTest)
#include "tst_viewandplan.moc"
