#include "dorvane/Settings.h"
#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/UninstallFlow.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/PackageTableModel.h"
#include "dorvane/gui/SuccessPanel.h"
#include "dorvane/gui/UninstallPanel.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "helperwire/HelperReply.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/uninstall/UninstallRun.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Kestrum.h"
#include "platform/Volume.h"
#include "support/BuiltVolume.h"
#include "support/CommandLineRun.h"
#include "support/LogRing.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPresenter.h"
#include "ui_MainWindow.h"

#include "VolumeBuilder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTreeWidget>

#include <unistd.h>

using namespace dorvane;
using volumegen::PathItem;

namespace {

const QString kEditor = "com.example.suite.Editor";
const QString kViewer = "com.example.suite.Viewer";
const QString kApp = "/Applications/Editor.app";
const QString kBundledProgram = kApp + "/Contents/Resources/edhelper";   // not where quitting looks
// The fixture's home; the generator takes logical paths without "~".
const QString kDock = "/Users/tester/Library/Preferences/com.apple.dock.plist";
const QString kLoginItem = "/Users/tester/.config/autostart/editor.desktop";

QString tile(const QString &url)
{
    return "<dict><key>tile-data</key><dict><key>file-data</key><dict><key>_CFURLString</key><string>" + url
           + "</string></dict></dict></dict>";
}

// Editor: files, folders that empty in any order, folders holding only
// ".DS_Store", only "Icon\r" or both, a file shared with Viewer, one in an
// ignored location, one already gone, one protected, an application with
// what it generated, a Dock tile and a login item.
volumegen::VolumeBuilder &describe(volumegen::VolumeBuilder &builder)
{
    PathItem gone = PathItem::file("Library/EditorData/gone.bin", 5);
    gone.onDisk = false;
    volumegen::Package editor = package(
        kEditor, {PathItem::folder("Library/EditorData"), PathItem::file("Library/EditorData/data.bin", 100),
                  PathItem::folder("Library/EditorData/Sub"), PathItem::file("Library/EditorData/Sub/more.bin", 10),
                  PathItem::folder("Library/EditorData/OnlyDS"), PathItem::folder("Library/EditorData/OnlyIcon"),
                  PathItem::folder("Library/EditorData/Both"), PathItem::folder("Library/EditorData/Chain/Inner"),
                  PathItem::folder("Library/EditorData/Chain"), PathItem::file("Library/Shared/common.bin", 5),
                  PathItem::file("usr/bin/edtool", 5), gone, PathItem::file("Library/EditorData/locked.bin", 5)});
    volumegen::AppBundle application = app(kApp, "Editor", "com.example.Editor");
    application.generated = volumegen::kTypicalGeneratedItems;
    editor.applications = {application};
    builder.addStandardFolders();
    builder.addReceipt(editor);
    builder.addReceipt(package(kViewer, {PathItem::file("Library/Shared/common.bin", 5)}));
    builder.addFile("/Library/EditorData/OnlyDS/.DS_Store", "x");
    builder.addFile("/Library/EditorData/OnlyIcon/Icon\r", "");
    builder.addFile("/Library/EditorData/Both/.DS_Store", "x");
    builder.addFile("/Library/EditorData/Both/Icon\r", "");
    builder.addFile(kDock, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>persistent-apps</key><array>"
                               + tile("file:///Applications/Editor.app/").toUtf8()
                               + tile("file:///Applications/Other.app/").toUtf8()
                               + "</array><key>tilesize</key><integer>48</integer></dict></plist>");
    builder.addFile(kLoginItem, "[Desktop Entry]\nType=Application\nExec=" + kApp.toUtf8()
                                    + "/Contents/MacOS/Editor --hidden\n");
    return builder;
}

QStringList changedPaths(const QMap<QString, QString> &before, const QMap<QString, QString> &after)
{
    QStringList changed;
    for (const QString &path : before.keys() + after.keys()) {
        if (before.value(path) != after.value(path) && !changed.contains(path))
            changed.append(path);
    }
    return changed;
}

} // namespace

// Uninstalls carried out for real: the helper tool installed on generated
// volumes removes what the plan says, and nothing else.
class UninstallTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }
    void init();
    void cleanup();

    void removesThePlanAndNothingElse_data();
    void removesThePlanAndNothingElse();
    void requestsInOrder_data();
    void requestsInOrder();
    void windowCarriesOutTheConfirmedPlan();
    void commandLine();
    void forgetsEachKindOfReceipt_data();
    void forgetsEachKindOfReceipt();
    void logName_data();
    void logName();
    void processMatching_data();
    void processMatching();

private:
    int runCli(const QStringList &arguments, QByteArray *out) const
    {
        const CommandLineRun run = runCommandLine(m_volume->root(), m_volume->home(), arguments);
        *out = run.out;
        return run.exitCode;
    }
    void startBundledProgram();

    std::unique_ptr<BuiltVolume> m_volume;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    QProcess m_program;
};

void UninstallTest::init()
{
    if (QByteArray(QTest::currentTestFunction()) == "logName" || QByteArray(QTest::currentTestFunction()) == "processMatching")
        return;
    if (::geteuid() != 0)
        QSKIP("the helper tool runs as root");
    m_volume = std::make_unique<BuiltVolume>();
    // Made on a fixture volume, where it makes its support folder.
    static kestrum::Kestrum shared;
    // These runs remove for good; what the quarantine keeps has its own test.
    kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(0);
    describe(m_volume->builder);
    if (QByteArray(QTest::currentTestFunction()) == "forgetsEachKindOfReceipt") {
        QFETCH(int, location);
        volumegen::Package receipt = package("org.example.kind", {PathItem::file("Library/Kind/file.bin", 3)});
        receipt.location = volumegen::Package::Location(location);
        m_volume->builder.addReceipt(receipt);
    }
    QString error;
    QVERIFY2(m_volume->builder.write(&error), qPrintable(error));
    QVERIFY(m_volume->builder.protect("/Library/EditorData/locked.bin"));
    m_script = std::make_unique<ScriptedPresenterScope>();
}

void UninstallTest::cleanup()
{
    m_program.kill();
    m_program.waitForFinished();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    m_script.reset();
    m_volume.reset();
}

// A copy of a small program, run from inside the application folder.
void UninstallTest::startBundledProgram()
{
    const QString program = m_volume->physical(kBundledProgram);
    QVERIFY(QFile::copy("/bin/sleep", program));
    m_program.start(program, {"600"});
    QVERIFY(m_program.waitForStarted());
}

void UninstallTest::removesThePlanAndNothingElse_data()
{
    QTest::addColumn<QString>("off");
    QTest::newRow("everything on") << QString();
    for (const char *key : {Settings::kDeleteFolders, Settings::kDeleteRemaining, Settings::kDeleteGenerated,
                            Settings::kDeleteDock})
        QTest::newRow(key) << QString::fromLatin1(key);
}

void UninstallTest::removesThePlanAndNothingElse()
{
    QFETCH(QString, off);
    if (!off.isEmpty())
        kestrum::DefaultsKey(off).setDefaultInt(0);
    const auto on = [&](const char *key) { return off != QLatin1String(key); };
    QVERIFY(!DeleteHelper::blessHelper());
    LogFiles::migrateLogfiles();
    startBundledProgram();

    const Catalogue catalogue = *CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
    const QList<PackageRecord> selection = recordsNamed(catalogue.installerPackages, {kEditor});
    QCOMPARE(selection.size(), 1);
    UninstallPlan plan = UninstallPlanner::plan(selection, catalogue, true);
    // Folders go whatever their order in the plan.
    if (off == QLatin1String(Settings::kDeleteDock))
        std::reverse(plan.removeFolders.begin(), plan.removeFolders.end());
    QVERIFY(platform::toStrings(plan.protectedPaths).contains("/Library/EditorData/locked.bin"));
    QCOMPARE(plan.sharedFiles.value(0).path.toString(), "/Library/Shared/common.bin");
    QVERIFY(platform::toStrings(plan.ignoredFiles).contains("/usr/bin/edtool"));
    QVERIFY(platform::toStrings(plan.missingPaths).contains("/Library/EditorData/gone.bin"));
    QCOMPARE(platform::toStrings(plan.removeRemaining), QStringList{kApp});
    QVERIFY(!plan.removeGenerated.isEmpty());

    // What may change besides the removals: the receipt, the logs, the
    // Dock, the login items, the settings and the helper's own files.
    const volumegen::VolumeBuilder &builder = m_volume->builder;
    const QStringList changing = {m_volume->physical(builder.receiptPath(builder.receipts().first())),
                                  m_volume->physical(builder.billPath(builder.receipts().first())),
                                  m_volume->physical("~/Library/Application Support/Dorvane"),
                                  m_volume->physical("~/Library/Preferences/com.dorvane.Dorvane.plist"),
                                  m_volume->physical(kDock), m_volume->physical(kLoginItem)};
    const QMap<QString, QString> before = treeSnapshot(m_volume->root());
    const QByteArray dockBefore = fileContents(m_volume->physical(kDock));

    DeleteHelper helper;
    QStringList details;
    const UninstallOutcome outcome =
        UninstallRun(plan, selection, helper).execute([&](const QString &detail) { details.append(detail); });
    QCOMPARE((*m_script)->questions().size(), 0);   // no failure was reported
    QVERIFY(m_program.waitForFinished(10000));   // ended even with "DeleteRemaining" off

    QStringList removed = platform::toStrings(plan.removeFiles) + outcome.removedFolders;
    removed += on(Settings::kDeleteRemaining) ? platform::toStrings(plan.removeRemaining) : QStringList();
    removed += on(Settings::kDeleteGenerated) ? platform::toStrings(plan.removeGenerated) : QStringList();
    for (QString &path : removed)
        path = m_volume->physical(path);
    const QMap<QString, QString> after = treeSnapshot(m_volume->root());
    for (auto item = before.cbegin(); item != before.cend(); ++item) {
        if (isWithinAny(item.key(), removed))
            QVERIFY2(!after.contains(item.key()), qPrintable(item.key()));
        else if (!isWithinAny(item.key(), changing))
            QVERIFY2(after.value(item.key()) == item.value(), qPrintable(item.key()));
    }
    for (const QString &path : after.keys())
        QVERIFY2(before.contains(path) || isWithinAny(path, changing), qPrintable(path));

    // Emptied folders go in any order; one holding both ".DS_Store" and
    // "Icon\r" stays, and so does one with a protected file.
    for (const char *folder : {"/Library/EditorData/OnlyIcon", "/Library/EditorData/OnlyDS", "/Library/EditorData/Chain/Inner",
                                  "/Library/EditorData/Chain", "/Library/EditorData/Sub"})
        QCOMPARE(outcome.removedFolders.contains(folder), on(Settings::kDeleteFolders));
    for (const QString &folder : outcome.removedFolders)
        QVERIFY(platform::toStrings(plan.removeFolders).contains(folder));
    QVERIFY(QFileInfo::exists(m_volume->physical("/Library/EditorData/Both")));
    QVERIFY(QFileInfo::exists(m_volume->physical("/Library/EditorData/locked.bin")));
    QVERIFY(!QFileInfo::exists(m_volume->physical(builder.billPath(builder.receipts().first()))));

    // The Dock and the login items, only with "DeleteDock".
    const QByteArray dockAfter = fileContents(m_volume->physical(kDock));
    QCOMPARE(dockAfter == dockBefore, !on(Settings::kDeleteDock));
    QCOMPARE(dockAfter.contains("Editor.app"), !on(Settings::kDeleteDock));
    QVERIFY(dockAfter.contains("Other.app"));
    QCOMPARE(QFileInfo::exists(m_volume->physical(kLoginItem)), !on(Settings::kDeleteDock));

    // The stages in order, and the logs.
    QCOMPARE(details.first(), "Quitting app in package: " + kEditor);
    QCOMPARE(details.last(), "Removing package info");
    const QString logFile = m_volume->physical(outcome.logFile);
    QCOMPARE(QFileInfo(logFile).fileName(), kEditor + ".log");
    const QString text = QString::fromUtf8(fileContents(logFile));
    const QString expected = "Packagename: " + kEditor + "\nPackagefilename: Editor.pkg\n\n\nUninstalled files: \n"
                             + platform::toStrings(plan.removeFiles).join('\n') + "\n\n\nUninstalled folders: \n"
                             + outcome.removedFolders.join('\n') + "\n\n\nUninstalled generated-files: \n"
                             + (on(Settings::kDeleteGenerated) ? platform::toStrings(plan.removeGenerated).join('\n') : QString())
                             + "\n\n\nUninstalled remaining-folders: \n"
                             + (on(Settings::kDeleteRemaining) ? platform::toStrings(plan.removeRemaining).join('\n') : QString());
    QCOMPARE(text.section('\n', 1), expected);
    QVERIFY(QString::fromUtf8(fileContents(m_volume->physical("~/Library/Application Support/Dorvane/Dorvane.log")))
                .contains(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d: uninstalled package '"
                                             + QRegularExpression::escape(kEditor) + "'\n$")));
    const QVariantList tree = outcome.successFiles();
    QCOMPARE(tree.first().toMap().value("name").toString(),
             QString("Uninstalled Folders (%1)").arg(outcome.removedFolders.size()));
    QCOMPARE(tree.size(), on(Settings::kDeleteRemaining) || on(Settings::kDeleteGenerated) ? 3 : 2);
}

void UninstallTest::requestsInOrder_data()
{
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("off");
    QTest::addColumn<bool>("nothingRemaining");
    QTest::newRow("everything on") << QStringList{kEditor} << QString() << false;
    QTest::newRow("DeleteDock off") << QStringList{kEditor} << QString(Settings::kDeleteDock) << false;
    QTest::newRow("no application folder planned") << QStringList{kEditor} << QString() << true;
    QTest::newRow("two packages") << QStringList{kEditor, kViewer} << QString() << false;
}

// The run against a scripted tool that answers every request as done: what
// it asks in which order, what the sheet says meanwhile, what the logs and
// the success tree say. The application itself is quit by the run, not the tool.
void UninstallTest::requestsInOrder()
{
    QFETCH(QStringList, selected);
    QFETCH(QString, off);
    QFETCH(bool, nothingRemaining);
    if (!off.isEmpty())
        kestrum::DefaultsKey(off).setDefaultInt(0);
    const QString executable = m_volume->physical(kApp + "/Contents/MacOS/Editor");
    QVERIFY(QFile::remove(executable) && QFile::copy("/bin/sleep", executable));
    QProcess application;
    application.start(executable, {"600"});
    QVERIFY(application.waitForStarted());
    const QString applicationPid = QString::number(application.processId());
    startBundledProgram();

    const Catalogue catalogue = *CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
    const QList<PackageRecord> selection = recordsNamed(catalogue.installerPackages, selected);
    UninstallPlan plan = UninstallPlanner::plan(selection, catalogue, true);
    if (nothingRemaining)
        plan.removeRemaining.clear();
    QVERIFY(QDir().mkpath(m_volume->physical("/private/var/run")));
    ScriptedPeer tool([](const helperwire::Message &request) -> helperwire::Message {
        helperwire::Reply done{{{request.value("request"), helperwire::ItemOutcome::Kind::Removed, {}, 0}}, {}};
        if (request.value("type") == "forget")
            done.text = helperwire::forgotText(request.value("request"));
        return {{"reply", helperwire::encodeReply(done)}};
    });
    QVERIFY(tool.isListening());
    markLog();
    DeleteHelper helper;
    QStringList details;
    const UninstallOutcome outcome =
        UninstallRun(plan, selection, helper).execute([&](const QString &detail) { details.append(detail); });
    QVERIFY(application.waitForFinished(10000));
    QCOMPARE(m_program.state(), QProcess::Running);   // only the tool ends what runs from the package

    // Each request named by what it carries; the folders' own come as one.
    const auto json = [](const UninstallPlan::Paths &paths) {
        return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(platform::toStrings(paths))).toJson(QJsonDocument::Compact));
    };
    QStringList asked;
    for (const helperwire::Message &request : tool.requests()) {
        const QString type = request.value("type");
        QString carried = request.value("request");
        // The application may still be ending from stage 2's quit when the
        // processes are listed; then the tool is asked to end it too.
        if (type == "kill")
            carried.remove(QRegularExpression(",?\"" + applicationPid + "\"")).replace("[,", "[");
        QString name = type == "kill" || type == "forget" ? type + " " + carried
                       : carried == json(plan.removeFiles)     ? "files"
                       : carried == json(plan.removeRemaining) ? "remaining"
                       : carried == json(plan.removeGenerated) ? "generated"
                                                               : "folders";
        if (name != "folders" || asked.value(asked.size() - 1) != name)
            asked.append(name);
    }
    // What runs from an application folder is ended only when the folder is planned.
    QStringList expected{"files", "folders", "remaining", "generated"};
    if (!nothingRemaining)
        expected.prepend("kill [\"" + QString::number(m_program.processId()) + "\"]");
    for (const QString &identifier : selected)
        expected.append("forget " + identifier);
    QCOMPARE(asked.join(" | "), expected.join(" | "));

    // The sheet's details, the folders' own aside.
    QStringList folderDetails = details.filter(QRegularExpression("^Deleting folder: "));
    QCOMPARE(folderDetails.size(), outcome.removedFolders.size());
    for (const QString &folder : outcome.removedFolders)
        QVERIFY(folderDetails.removeOne("Deleting folder: " + folder.section('/', -1)));
    expected.clear();
    for (const QString &identifier : selected)
        expected.append("Quitting app in package: " + identifier);
    expected += {"Terminating processes in package…", "Deleting files…", "Deleting additional files"};
    for (const QString &identifier : selected)
        expected.append("Forgetting package: " + identifier);
    expected += {"Writing logfile", "Removing package info"};
    QCOMPARE(details.filter(QRegularExpression("^(?!Deleting folder: )")), expected);

    // The Dock is quit only when its tile went; the running log has a line per package.
    QCOMPARE(wasLogged(kestrum::LogInfo, "quitDock: tell application \"/System/Library/CoreServices/Dock.app\" to quit"),
             off.isEmpty());
    QString lines;
    for (const QString &identifier : selected)
        lines += "\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d: uninstalled package '" + QRegularExpression::escape(identifier) + "'\n";
    QVERIFY(QRegularExpression("\\A" + lines + "\\z")
                .match(QString::fromUtf8(fileContents(m_volume->physical("~/Library/Application Support/Dorvane/Dorvane.log"))))
                .hasMatch());
    const QVariantList tree = outcome.successFiles();
    QCOMPARE(tree.value(1).toMap().value("name").toString(), QString("Uninstalled Files (%1)").arg(plan.removeFiles.size()));
    QCOMPARE(tree.value(2).toMap().value("name").toString(),
             QString("Additional uninstalled files & folders (%1)").arg(plan.removeGenerated.size() + plan.removeRemaining.size()));
}

// Confirm, cancel, carry out, and the list updated without a new scan.
void UninstallTest::windowCarriesOutTheConfirmedPlan()
{
    AppDelegate delegate;
    delegate.window()->show();
    QSignalSpy handedOver(&delegate, &AppDelegate::catalogueHandedOver);
    delegate.applicationDidFinishLaunching();
    QVERIFY(handedOver.wait(20000));
    QTableView *table = delegate.window()->ui().tableView;
    for (int row = 0; row < delegate.tableModel()->packages().size(); ++row) {
        if (delegate.tableModel()->packages().at(row).packageIdentifier() == kEditor)
            table->selectRow(row);
    }
    QSignalSpy planned(&delegate, &AppDelegate::uninstallPanelShown);
    delegate.uninstallPackage();
    QVERIFY(planned.wait(20000));
    const UninstallPlan plan = delegate.uninstallFlow().currentPlan();

    (*m_script)->enqueueButton(1001);   // "Cancel": the sheet stays with its plan
    delegate.uninstallPanel()->findChild<QPushButton *>("continueButton")->click();
    QCOMPARE((*m_script)->questions().size(), 1);
    const kestrum::AlertQuestion question = (*m_script)->questions().first();
    QCOMPARE(question.title, "Warning");
    QCOMPARE(question.buttons, QStringList({"Proceed with uninstall", "Cancel"}));
    QVERIFY(question.message.contains("?\nThis will remove these application(s) from your Mac: Editor\n\n"));
    QVERIFY(delegate.uninstallPanel()->isVisible());
    QCOMPARE(delegate.uninstallFlow().currentPlan(), plan);
    QCOMPARE(delegate.catalogue().packagesForFile("/Library/Shared/common.bin"), QStringList({kEditor, kViewer}));

    QSignalSpy succeeded(&delegate, &AppDelegate::successPanelShown);
    delegate.uninstallPanel()->findChild<QPushButton *>("continueButton")->click();
    QVERIFY(succeeded.wait(30000));
    QCOMPARE(handedOver.size(), 1);
    QVERIFY(!delegate.uninstallPanel()->isVisible());
    QVERIFY(delegate.successPanel()->isVisible());
    QCOMPARE(delegate.successPanel()->tree()->topLevelItemCount(), delegate.uninstallFlow().successFiles().size());
    for (const PackageRecord &record : delegate.tableModel()->packages())
        QVERIFY(record.packageIdentifier() != kEditor);
    QCOMPARE(delegate.catalogue().installerPackages.size(), 1);
    QCOMPARE(delegate.catalogue().packagesForFile("/Library/Shared/common.bin"), QStringList{kViewer});
    QVERIFY(delegate.catalogue().filesForPackage(kEditor).isEmpty());
    QStringList menu;
    for (const QAction *action : delegate.window()->ui().logfileMenu->actions())
        menu.append(action->isSeparator() ? QString() : action->text());
    QCOMPARE(menu, QStringList({"Dorvane.log", QString(), kEditor + ".log", QString(), "Undo Last Uninstall…"}));
    delegate.successPanel()->findChild<QPushButton *>("doneButton")->click();
    QVERIFY(!delegate.successPanel()->isVisible());
}

void UninstallTest::commandLine()
{
    const QMap<QString, QString> before = treeSnapshot(m_volume->root());
    QByteArray out;
    QCOMPARE(runCli({"uninstall", kEditor}, &out), 3);
    QVERIFY(out.contains("/Library/EditorData/data.bin"));   // the plan was printed
    // Only the program's own settings and support folder, which every start touches.
    QStringList changed = changedPaths(before, treeSnapshot(m_volume->root()));
    changed.removeIf([&](const QString &path) {
        return isWithinAny(path, {m_volume->physical("~/Library/Application Support/Dorvane"),
                                  m_volume->physical("~/Library/Preferences/com.dorvane.Dorvane.plist")});
    });
    QCOMPARE(changed, QStringList());

    QCOMPARE(runCli({"uninstall", kEditor, "--json", "--yes"}, &out), 0);
    const QJsonObject json = QJsonDocument::fromJson(out).object();
    QVERIFY(json.value("confirmed").toBool());
    QCOMPARE(json.value("failed").toArray().size(), 0);
    QVERIFY(json.value("removedFiles").toArray().contains("/Library/EditorData/data.bin"));
    QVERIFY(QFileInfo::exists(m_volume->physical(json.value("logFile").toString())));
    QVERIFY(!QFileInfo::exists(m_volume->physical("/Library/EditorData/data.bin")));
    QCOMPARE(runCli({"list"}, &out), 0);
    QVERIFY(!out.contains(kEditor.toUtf8()));
    QVERIFY(out.contains(kViewer.toUtf8()));
}

void UninstallTest::forgetsEachKindOfReceipt_data()
{
    QTest::addColumn<int>("location");
    QTest::newRow("system") << int(volumegen::Package::System);
    QTest::newRow("user") << int(volumegen::Package::User);
    QTest::newRow("legacy") << int(volumegen::Package::Legacy);
}

void UninstallTest::forgetsEachKindOfReceipt()
{
    QFETCH(int, location);
    const volumegen::VolumeBuilder &builder = m_volume->builder;
    const volumegen::Package &written = builder.receipts().last();
    const QString receiptFile = m_volume->physical(location == volumegen::Package::Legacy
                                                       ? builder.bundlePath(written)
                                                       : builder.receiptPath(written));
    const QString billFile = m_volume->physical(builder.billPath(written));
    QVERIFY(QFileInfo::exists(receiptFile) && QFileInfo::exists(billFile));

    QByteArray out;
    QCOMPARE(runCli({"forget", "org.example.kind"}, &out), 3);
    QVERIFY(QFileInfo::exists(receiptFile));
    QCOMPARE(runCli({"forget", "org.example.kind", "--yes"}, &out), 0);
    QCOMPARE(out, "Forgot package 'org.example.kind' on '/'.\n");
    QVERIFY(!QFileInfo::exists(receiptFile));
    QVERIFY(!QFileInfo::exists(billFile));
    QVERIFY(QFileInfo::exists(m_volume->physical(location == volumegen::Package::User ? "~/Library/Kind/file.bin"
                                                                                        : "/Library/Kind/file.bin")));
}

void UninstallTest::logName_data()
{
    QTest::addColumn<QStringList>("identifiers");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one long") << QStringList{"com.vendor.app"} << "com.vendor.app";
    QTest::newRow("shared prefix") << QStringList{"com.vendor.app", "com.vendor.tool"} << "com.vendor..*";
    QTest::newRow("short prefix") << QStringList{"com.vendor.app", "com.other"} << "Multiple_Packages_05.03.2019-14:07:09";
    QTest::newRow("one short") << QStringList{"abcdef"} << "Multiple_Packages_05.03.2019-14:07:09";
    QTest::newRow("none in common") << QStringList{"org.one.app", "com.two.app"}
                                    << "Multiple_Packages_05.03.2019-14:07:09";
}

void UninstallTest::logName()
{
    QFETCH(QStringList, identifiers);
    QFETCH(QString, expected);
    QCOMPARE(UninstallRun::logName(identifiers, QDateTime(QDate(2019, 3, 5), QTime(14, 7, 9))), expected);
}

// Which processes an uninstall ends: those running a planned file, or from
// inside a planned application folder or generated item, compared as the
// volume compares paths; never one whose folder only begins with the same
// text, nor a command without an absolute path.
void UninstallTest::processMatching_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("ended");
    QTest::newRow("the application") << "/Applications/Foo.app/Contents/MacOS/Foo" << true;
    QTest::newRow("another spelling of it") << "/applications/FOO.app/Contents/MacOS/Foo" << true;
    QTest::newRow("a neighbour with a longer name") << "/Applications/Foo.app Beta.app/Contents/MacOS/Beta" << false;
    QTest::newRow("a planned single file") << "/Library/Foo/tool" << true;
    QTest::newRow("a file beside it") << "/Library/Foo/tool2" << false;
    QTest::newRow("inside a generated item") << "/Library/Application Support/Foo/agent" << true;
    QTest::newRow("no absolute path") << "Foo" << false;
}

void UninstallTest::processMatching()
{
    QFETCH(QString, command);
    QFETCH(bool, ended);
    UninstallPlan plan;
    plan.removeFiles = platform::volumePaths({"/Library/Foo/tool"});
    plan.removeRemaining = platform::volumePaths({"/Applications/Foo.app"});
    plan.removeGenerated = platform::volumePaths({"/Library/Application Support/Foo"});
    QStringList pids, commands;
    UninstallRun::collectProcesses("  PID COMM\n  401 /bin/sh\n 4242 " + command + "\n", plan, &pids, &commands);
    QCOMPARE(pids, ended ? QStringList{"4242"} : QStringList());
    QCOMPARE(commands, ended ? QStringList{command} : QStringList());
}

QTEST_MAIN(UninstallTest)
#include "tst_uninstall.moc"
