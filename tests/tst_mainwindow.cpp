#include "dorvane/Settings.h"
#include "dorvane/StartUp.h"
#include "dorvane/catalogue/PackageSize.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/PackageTableModel.h"
#include "dorvane/gui/ProgressPanel.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/widgets/AlertDialog.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"
#include "ui_MainWindow.h"

#include "VolumeGenerator.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <csignal>

#include <sys/syscall.h>
#include <unistd.h>

using namespace dorvane;

// A key event as the window system delivers it, without QTest's own
// pressing and releasing of the modifier keys.
static void sendKey(QWidget *widget, QEvent::Type type, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent event(type, key, modifiers);
    QApplication::sendEvent(widget, &event);
}

// The application's window on a generated demo volume, driven as a user
// would drive it.
class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<AppDelegate> m_delegate;

    void start()
    {
        m_delegate = std::make_unique<AppDelegate>();
        new QAbstractItemModelTester(m_delegate->tableModel(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     m_delegate.get());
        m_delegate->window()->show();
        QSignalSpy sized(m_delegate.get(), &AppDelegate::sizePassFinished);
        m_delegate->applicationDidFinishLaunching();
        QVERIFY(sized.wait(20000));
    }

    QStringList shownIdentifiers() const
    {
        QStringList ids;
        for (const PackageRecord &record : m_delegate->tableModel()->packages())
            ids << record.packageIdentifier();
        return ids;
    }

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }
    void init()
    {
        m_volume = std::make_unique<VolumeFixture>(QStringLiteral("/Users/demo"));
        QString error;
        QVERIFY2(volumegen::buildDemoVolume(m_volume->root(), {}, nullptr, &error), qPrintable(error));
        m_script = std::make_unique<ScriptedPresenterScope>();
    }
    void cleanup()
    {
        m_delegate.reset();
        // Work still running reads this volume; let it end before the next test's.
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
        m_script.reset();
        m_volume.reset();
    }

    void listsTheCatalogueWithSizes()
    {
        start();
        const Catalogue &catalogue = m_delegate->catalogue();
        QVERIFY(catalogue.installerPackages.size() > 10);
        QCOMPARE(m_delegate->tableModel()->rowCount(), int(catalogue.installerPackages.size()));
        double total = 0;
        for (const PackageRecord &record : catalogue.installerPackages) {
            // Each row's size comes from its own package's files.
            const quint64 bytes = PackageSize::bytes(record, catalogue);
            QCOMPARE(record.installBytes(), bytes);
            total += PackageSize::shownMegabytes(bytes);
        }
        QCOMPARE(m_delegate->window()->ui().statsLabel->text(),
                 QString::asprintf("%lld Packages  %.1f MB", qint64(catalogue.installerPackages.size()), total));
        const QModelIndex size = m_delegate->tableModel()->index(0, PackageTableModel::ColumnSize);
        QVERIFY(size.data().toString().endsWith(" MB"));
        QVERIFY(m_script->presenter().questions().isEmpty());
    }

    // The search filters on every keystroke; the buttons choose which packages
    // are listed.
    void searchAndFilterButtons()
    {
        start();
        Ui::MainWindow &ui = m_delegate->window()->ui();
        QTest::keyClicks(ui.searchField, "NORTH");
        const QStringList shown = shownIdentifiers();
        QVERIFY(!shown.isEmpty());
        QVERIFY(shown.size() < m_delegate->catalogue().installerPackages.size());
        for (const PackageRecord &record : m_delegate->tableModel()->packages()) {
            QVERIFY(record.packageIdentifier().contains("north", Qt::CaseInsensitive)
                    || record.packageFileName().contains("north", Qt::CaseInsensitive));
        }
        QVERIFY(ui.statsLabel->text().startsWith(QString::number(shown.size()) + " Packages  "));
        QTest::keyClick(ui.searchField, Qt::Key_Z);
        QVERIFY(shownIdentifiers().isEmpty());
        ui.searchField->clear();
        QCOMPARE(shownIdentifiers().size(), m_delegate->catalogue().installerPackages.size());

        QVERIFY(ui.selectAllButton->isChecked());
        QTest::mouseClick(ui.selectDefunctButton, Qt::LeftButton);
        QVERIFY(ui.selectDefunctButton->isChecked());
        QVERIFY(!ui.selectAllButton->isChecked());
        const QStringList defunct = shownIdentifiers();
        QVERIFY(!defunct.isEmpty());
        for (const QString &id : defunct)
            QVERIFY(m_delegate->catalogue().defunctappPackageIdentifiers.contains(id));
        QTest::mouseClick(ui.selectAppsButton, Qt::LeftButton);
        const QStringList apps = shownIdentifiers();
        QVERIFY(apps.size() > defunct.size());
        // An identifier listed twice is shown once.
        QCOMPARE(QSet<QString>(apps.begin(), apps.end()).size(), apps.size());
    }

    void altShowsTheInstaller()
    {
        start();
        QApplication::setActiveWindow(m_delegate->window());
        QVERIFY(QTest::qWaitForWindowActive(m_delegate->window()));
        PackageTableModel *model = m_delegate->tableModel();
        QWidget *table = m_delegate->window()->ui().tableView;
        auto header = [model] { return model->headerData(PackageTableModel::ColumnVersion, Qt::Horizontal); };
        QCOMPARE(header(), QStringLiteral("Version"));
        sendKey(table, QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
        QCOMPARE(header(), QStringLiteral("Installer"));
        const QModelIndex cell = model->index(0, PackageTableModel::ColumnVersion);
        QCOMPARE(cell.data().toString(), model->packageAt(0).installProcessName());
        // Shift pressed and released while Alt stays down changes nothing.
        sendKey(table, QEvent::KeyPress, Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
        sendKey(table, QEvent::KeyRelease, Qt::Key_Shift, Qt::AltModifier);
        QCOMPARE(header(), QStringLiteral("Installer"));
        sendKey(table, QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
        QCOMPARE(header(), QStringLiteral("Version"));
        QCOMPARE(cell.data().toString(), model->packageAt(0).packageVersion());
    }

    void commandTitlesFollowTheSelection()
    {
        start();
        QTableView *table = m_delegate->window()->ui().tableView;
        table->selectRow(0);
        QCOMPARE(m_delegate->viewPackageTitle(), QStringLiteral("View Package…"));
        table->selectionModel()->select(m_delegate->tableModel()->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(m_delegate->selectedPackages().size(), 2);
        QCOMPARE(m_delegate->viewPackageTitle(), QStringLiteral("View 2 Packages…"));
        QCOMPARE(m_delegate->uninstallPackageTitle(), QStringLiteral("Uninstall 2 Packages…"));
        QCOMPARE(m_delegate->uninstallPackage2Title(), QStringLiteral("Uninstall 2 Packages"));
        QCOMPARE(m_delegate->window()->ui().uninstallButton->text(), QStringLiteral("Uninstall 2 Packages…"));
        table->clearSelection();
        QCOMPARE(m_delegate->uninstallPackageTitle(), QStringLiteral("Uninstall Package…"));
        QCOMPARE(m_delegate->uninstallPackage2Title(), QStringLiteral("Uninstall Package"));
    }

    void refreshDuringTheSizePass()
    {
        m_delegate = std::make_unique<AppDelegate>();
        QStringList events;
        connect(m_delegate.get(), &AppDelegate::catalogueHandedOver, this, [&events] { events << "handed over"; });
        connect(m_delegate.get(), &AppDelegate::sizePassFinished, this, [&events] { events << "sized"; });
        QSignalSpy handedOver(m_delegate.get(), &AppDelegate::catalogueHandedOver);
        m_delegate->applicationDidFinishLaunching();
        QVERIFY(handedOver.wait(20000));
        // The first pass has barely begun; a refresh replaces the catalogue.
        QAbstractButton *refresh = m_delegate->window()->ui().refreshButton;
        m_delegate->refreshPackages();
        QVERIFY(refresh->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(events.count("handed over") == 2 && events.last() == "sized", 20000);
        QVERIFY(!refresh->isChecked());
        for (const PackageRecord &record : m_delegate->catalogue().installerPackages) {
            QCOMPARE(record.installBytes(), PackageSize::bytes(record, m_delegate->catalogue()));
        }
    }

    void hintOnTheFirstTwoLaunchesOnly()
    {
        for (int launch = 1; launch <= 3; ++launch) {
            start();
            QCOMPARE(kestrum::DefaultsKey(Settings::kLaunches).defaultInt(), launch);
            QCOMPARE(m_delegate->window()->helpView()->isVisible(), launch <= 2);
            m_delegate.reset();
        }
    }

    void optionCheckBoxesWriteTheirSettings()
    {
        start();
        Ui::MainWindow &ui = m_delegate->window()->ui();
        QVERIFY(ui.deleteGeneratedCheckBox->isChecked());
        ui.deleteGeneratedCheckBox->click();
        QCOMPARE(kestrum::DefaultsKey(Settings::kDeleteGenerated).defaultInt(), 0);
        ui.deleteRemainingCheckBox->click();
        QCOMPARE(kestrum::DefaultsKey(Settings::kDeleteRemaining).defaultInt(), 0);
        m_delegate.reset();
        m_delegate = std::make_unique<AppDelegate>();
        QVERIFY(!m_delegate->window()->ui().deleteGeneratedCheckBox->isChecked());
        QVERIFY(m_delegate->window()->ui().deleteFoldersCheckBox->isChecked());
    }

    void noPackagesEndsWithStatusOne()
    {
        if (const QString root = qEnvironmentVariable("DORVANE_TEST_EMPTY_VOLUME"); !root.isEmpty()) {
            // The child: the parent's empty volume; the scan's alert is answered by script.
            m_volume.reset();
            platform::Volume::configure(root, QStringLiteral("/Users/tester"));
            platform::UserDefaults::standard().reload();
            ScriptedPresenterScope script;
            AppDelegate delegate;
            QSignalSpy handedOver(&delegate, &AppDelegate::catalogueHandedOver);
            delegate.applicationDidFinishLaunching();
            handedOver.wait(20000); // never comes: the process ends first
            QFAIL("the application should have ended");
        }
        // The child ends at once, through _exit: the helper it installs on the
        // volume is stopped, and the volume removed, by this fixture here.
        VolumeFixture empty;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DORVANE_TEST_EMPTY_VOLUME", empty.root());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"noPackagesEndsWithStatusOne"});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 1);
    }

    // The application crashes; at the next start the real alert asks about the
    // report, and the first scan waits until it is answered. Escape answers
    // "Cancel": nothing is mailed, and the report is not asked about again.
    void aCrashIsAskedAboutBeforeTheFirstScan()
    {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        app.setProcessEnvironment(env);
        app.start(DORVANE_APP, {"--root", m_volume->root(), "--home", "/Users/demo"});
        QVERIFY(app.waitForStarted());
        // The crash handlers are in place before the launch is counted.
        const QString prefs = m_volume->physical("~/Library/Preferences/com.dorvane.Dorvane.plist");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(prefs), 20000);
        // Sent to the main thread (its id is the process id), as a fault of the
        // program's own code would arrive there.
        ::syscall(SYS_tgkill, pid_t(app.processId()), pid_t(app.processId()), SIGSEGV);
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::CrashExit);
        const QStringList reports = QDir(m_volume->physical("~/Library/Logs/DiagnosticReports")).entryList(QDir::Files);
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports.first().startsWith("Dorvane_"));

        const auto previous = kestrum::setAlertPresenter(std::make_shared<kestrum::DialogPresenter>());
        UrlRecorder urls;
        m_delegate = std::make_unique<AppDelegate>();
        m_delegate->window()->show();
        QSignalSpy began(m_delegate->progressPanel(), &ProgressPanel::began);
        QStringList buttons;
        bool scannedWhileHeld = true;
        QTimer::singleShot(0, [&] {
            QWidget *alert = QApplication::activeModalWidget();
            if (!qobject_cast<kestrum::AlertDialog *>(alert))
                return;
            for (const QPushButton *button : alert->findChildren<QPushButton *>())
                buttons << button->text();
            // Held open three times as long as the scan's former delay.
            scannedWhileHeld = began.wait(300);
            QTest::keyClick(alert->focusWidget(), Qt::Key_Escape);
        });
        QSignalSpy handedOver(m_delegate.get(), &AppDelegate::catalogueHandedOver);
        m_delegate->applicationDidFinishLaunching();
        kestrum::setAlertPresenter(previous);
        QCOMPARE(buttons, (QStringList{"Cancel", "Never", "Send"})); // left to right
        QVERIFY(!scannedWhileHeld);
        QVERIFY(urls.urls().isEmpty());
        QVERIFY(kestrum::DefaultsKey("Kestrum_lastcrashdate").defaultObject().isValid());
        QVERIFY(handedOver.wait(20000));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
