#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/UninstallPanel.h"
#include "dorvane/helper/DeleteHelper.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "dorvane/uninstall/UninstallRun.h"
#include "kestrum/Kestrum.h"
#include "support/FixturePackages.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"
#include "ui_MainWindow.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <linux/sockios.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace dorvane;
using volumegen::PathItem;

namespace {

const QString kEditor = "com.example.suite.Editor";
const QString kApp = "/Applications/Editor.app";
const QString kLogFolder = "~/Library/Application Support/Dorvane/Logfiles";
const QString kFailedDelete = "Failed to delete files/folders.";

bool isWithinAny(const QString &path, const QStringList &folders)
{
    return std::any_of(folders.cbegin(), folders.cend(),
                       [&](const QString &f) { return path == f || path.startsWith(f + '/'); });
}

// Whether the process has sent a request that nobody has read yet: one of
// its Unix sockets still holds unread outgoing bytes.
bool requestUnread(qint64 pid)
{
    const int process = int(::syscall(SYS_pidfd_open, pid, 0));
    bool unread = false;
    for (int target = 0; process >= 0 && target < 256 && !unread; ++target) {
        const int fd = int(::syscall(SYS_pidfd_getfd, process, target, 0));
        int domain = 0, queued = 0;
        socklen_t size = sizeof domain;
        unread = fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_UNIX
                 && ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0;
        ::close(fd);
    }
    ::close(process);
    return unread;
}

QStringList listed(const QJsonObject &json, const QStringList &keys)
{
    QStringList paths;
    for (const QString &key : keys)
        paths += json.value(key).toVariant().toStringList();
    return paths;
}

} // namespace

// Uninstalls meeting faults: the helper tool dying mid-request, a full disk
// under the logs, receipts, folders and bills changed behind the program's
// back. The program reports what went wrong and removes nothing it should not.
class FaultsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }
    void init();
    void cleanup();

    void helperKilledDuringARequest_data();
    void helperKilledDuringARequest();
    void logFolderFull_data();
    void logFolderFull();
    void receiptsGoneBeforePlanning_data();
    void receiptsGoneBeforePlanning();
    void packageFolderSwappedForALink_data();
    void packageFolderSwappedForALink();
    void billCutShortBeforeReading_data();
    void billCutShortBeforeReading();

private:
    void startCli(QProcess &cli) const
    {
        cli.start(DORVANE_CLI, {"--root", m_volume->root(), "--home", m_volume->home(), "uninstall", kEditor, "--yes", "--json"});
    }
    QString receipt() const { return m_volume->physical(m_builder->receiptPath(m_builder->receipts().first())); }
    QList<PackageRecord> scanned(Catalogue *catalogue);
    // Every item before is there after, unchanged, but for what the plan
    // removed and the program's own support files, the receipt and the helper.
    void checkNothingElseChanged(const QMap<QString, QString> &before, const QStringList &removed);

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<volumegen::VolumeBuilder> m_builder;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<UrlRecorder> m_urls;   // no mail program for the problem reports
    QProcess m_program;
    QString m_mounted;
};

void FaultsTest::init()
{
    if (::geteuid() != 0)
        QSKIP("the helper tool runs as root");
    m_volume = std::make_unique<VolumeFixture>();
    static kestrum::Kestrum shared;   // made on a fixture volume, where it makes its support folder
    m_builder = std::make_unique<volumegen::VolumeBuilder>(m_volume->root(), m_volume->home());
    volumegen::Package editor =
        package(kEditor, {PathItem::folder("Library/EditorData"), PathItem::file("Library/EditorData/data.bin", 100),
                          PathItem::folder("Library/EditorData/Sub"), PathItem::file("Library/EditorData/Sub/more.bin", 10)});
    editor.applications = {app(kApp, "Editor", "com.example.Editor")};
    m_builder->addStandardFolders();
    m_builder->addReceipt(editor);
    QString error;
    QVERIFY2(m_builder->write(&error), qPrintable(error));
    m_script = std::make_unique<ScriptedPresenterScope>();
    m_urls = std::make_unique<UrlRecorder>();
}

void FaultsTest::cleanup()
{
    m_program.kill();
    m_program.waitForFinished();
    if (!m_mounted.isEmpty())
        QCOMPARE(::umount2(qPrintable(std::exchange(m_mounted, QString())), MNT_DETACH), 0);
    m_urls.reset();
    m_script.reset();
    m_builder.reset();
    m_volume.reset();   // stops the helper daemon, its keeper too, and removes the volume
}

QList<PackageRecord> FaultsTest::scanned(Catalogue *catalogue)
{
    *catalogue = *CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
    QList<PackageRecord> selection = catalogue->installerPackages;
    selection.removeIf([](const PackageRecord &record) { return record.packageIdentifier() != kEditor; });
    return selection;
}

void FaultsTest::checkNothingElseChanged(const QMap<QString, QString> &before, const QStringList &removedPaths)
{
    QStringList removed, changing;
    for (const QString &path : removedPaths)
        removed.append(m_volume->physical(path));
    const platform::DaemonJob::Places helper = HelperInstaller::places();
    for (const QString &path : {m_builder->billPath(m_builder->receipts().first()), QString("~/Library/Application Support/Dorvane"),
                                QString("~/Library/Preferences/com.dorvane.Dorvane.plist"), helper.tool.toString(),
                                helper.jobList.toString(), helper.socket.toString(), helper.pidFile.toString()})
        changing.append(m_volume->physical(path));
    changing.append(receipt());
    const QMap<QString, QString> after = treeSnapshot(m_volume->root());
    for (auto item = before.cbegin(); item != before.cend(); ++item) {
        if (isWithinAny(item.key(), removed))
            QVERIFY2(!after.contains(item.key()), qPrintable(item.key()));
        else if (!isWithinAny(item.key(), changing))
            QVERIFY2(after.value(item.key()) == item.value(), qPrintable(item.key()));
    }
    for (const QString &path : after.keys())
        QVERIFY2(before.contains(path) || isWithinAny(path, changing), qPrintable(path));
}

void FaultsTest::helperKilledDuringARequest_data()
{
    QTest::addColumn<bool>("processRunning");   // so that the first request is "kill"
    QTest::addColumn<QString>("report");
    QTest::newRow("ending processes") << true << "Failed to kill PIDs.";
    QTest::newRow("deleting files") << false << kFailedDelete;
}

// The daemon is stopped, the command line's first request waits unread in
// its socket, then the daemon is killed. Its job starts it again, and the
// run goes on with it to the end.
void FaultsTest::helperKilledDuringARequest()
{
    QFETCH(bool, processRunning);
    QFETCH(QString, report);
    const QString program = m_volume->physical(kApp + "/Contents/Resources/edhelper");
    if (processRunning) {
        QVERIFY(QFile::copy("/bin/sleep", program));
        m_program.start(program, {"600"});
        QVERIFY(m_program.waitForStarted());
    }
    const platform::DaemonJob::Places places = HelperInstaller::places();
    QVERIFY(!DeleteHelper::blessHelper());
    std::optional<qint64> daemon;
    QTRY_VERIFY((daemon = platform::DaemonJob::runningPid(places)));   // the keeper starts it
    const QMap<QString, QString> before = treeSnapshot(m_volume->root());

    QVERIFY(::kill(pid_t(*daemon), SIGSTOP) == 0);
    QProcess cli;
    startCli(cli);
    QVERIFY(cli.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(requestUnread(cli.processId()) || cli.state() != QProcess::Running, 30000);
    QVERIFY(::kill(pid_t(*daemon), SIGKILL) == 0);
    QVERIFY(cli.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    // The files of a delete that got no answer are still there, and said so.
    QVERIFY2(cli.exitCode() == (processRunning ? 0 : 4), qPrintable(err));

    // The connection's report first, then the request's own.
    const qsizetype interrupted = err.indexOf("XPC connection interrupted");
    QVERIFY2(interrupted >= 0 && err.indexOf(report) > interrupted, qPrintable(err));
    QVERIFY(err.contains("got empty response! XPC_TYPE_ERROR "));
    QCOMPARE(m_program.state() == QProcess::Running, processRunning);   // the kill never reached it
    const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
    const QStringList failed = listed(json, {"failed"});
    QCOMPARE(failed.contains("/Library/EditorData/data.bin"), !processRunning);
    // The later requests went to the daemon started again: the receipt is
    // forgotten, the log written.
    QVERIFY(!QFileInfo::exists(receipt()));
    QVERIFY(QFileInfo::exists(m_volume->physical(kLogFolder + "/" + kEditor + ".log")));
    const std::optional<qint64> restarted = platform::DaemonJob::runningPid(places);
    QVERIFY(restarted && *restarted != *daemon && platform::DaemonJob::answers(places));
    QStringList removed = listed(json, {"removedFiles", "removedFolders", "removedAdditional"});
    removed.removeIf([&](const QString &path) { return failed.contains(path); });
    checkNothingElseChanged(before, removed);
}

void FaultsTest::logFolderFull_data()
{
    QTest::addColumn<bool>("window");
    QTest::newRow("command line") << false;
    QTest::newRow("window") << true;
}

// A tmpfs filled to the last byte over the log folder: the uninstall goes
// through and says why its log is missing.
void FaultsTest::logFolderFull()
{
    QFETCH(bool, window);
    const QString folder = m_volume->physical(kLogFolder);
    QVERIFY(QDir().mkpath(folder));
    if (::mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=16k") != 0)
        QSKIP(qPrintable("a tmpfs cannot be mounted here: " + QString::fromLocal8Bit(std::strerror(errno))));
    m_mounted = folder;
    const auto fill = [&](const QString &name) {
        QFile file(folder + "/" + name);
        int pages = 0;
        while ((file.isOpen() || file.open(QIODevice::WriteOnly)) && file.write(QByteArray(4096, 'x')) == 4096 && file.flush())
            ++pages;
        return pages;
    };
    QVERIFY(fill("filler") > 0);
    QCOMPARE(fill("probe"), 0);
    QVERIFY(QDir(folder).remove("probe"));

    const QString expected = "/Users/tester/Library/Application Support/Dorvane/Logfiles/" + kEditor
                             + ".log: No space left on device";
    if (window) {
        AppDelegate delegate;
        QSignalSpy handedOver(&delegate, &AppDelegate::catalogueHandedOver);
        QSignalSpy planned(&delegate, &AppDelegate::uninstallPanelShown);
        QSignalSpy succeeded(&delegate, &AppDelegate::successPanelShown);
        delegate.applicationDidFinishLaunching();
        QVERIFY(handedOver.wait(20000));
        delegate.window()->ui().tableView->selectRow(0);   // the editor, the volume's one package
        delegate.uninstallPackage();
        QVERIFY(planned.wait(20000));
        delegate.uninstallPanel()->findChild<QPushButton *>("continueButton")->click();   // and confirmed
        QVERIFY(succeeded.wait(30000));
        QCOMPARE((*m_script)->questions().last().message, "The uninstall log could not be written: " + expected);
    } else {
        QProcess cli;
        startCli(cli);
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray err = cli.readAllStandardError();
        const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        QVERIFY(json.value("logFile").isNull());
        QCOMPARE(json.value("logError").toString(), expected);
        QVERIFY2(err.contains("dorvane: the uninstall log could not be written: " + expected.toUtf8()), err.constData());
    }
    QVERIFY(!QFileInfo::exists(m_volume->physical("/Library/EditorData/data.bin")));   // the uninstall went through
    QVERIFY(fileContents(m_volume->physical("~/Library/Application Support/Dorvane/Dorvane.log"))
                .contains("uninstalled package '" + kEditor.toUtf8() + "'"));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"filler"});
}

void FaultsTest::receiptsGoneBeforePlanning_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"folder replaced by a file", "folder a dangling link", "receipt removed", "bill removed"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

void FaultsTest::receiptsGoneBeforePlanning()
{
    QFETCH(QString, change);
    Catalogue catalogue;
    const QList<PackageRecord> selection = scanned(&catalogue);
    QCOMPARE(selection.size(), 1);
    const QFileInfo file(receipt());
    QFile folder(file.path());
    if (change.startsWith("folder"))
        QVERIFY(QDir(file.path()).removeRecursively());
    if (change == "folder replaced by a file")
        QVERIFY(folder.open(QIODevice::WriteOnly) && folder.write("x") == 1);
    else if (change == "folder a dangling link")
        QVERIFY(QFile::link("/nowhere", file.path()));
    else
        QVERIFY(QFile::remove(change == "bill removed" ? file.path() + "/" + file.completeBaseName() + ".bom" : receipt()));
    const QMap<QString, QString> before = treeSnapshot(m_volume->root());

    UninstallChecks checks;
    QVERIFY(!checks.mayPlan(selection));
    const QString reason = "It seems you have already manually uninstalled parts of the package '" + kEditor + "'";
    QVERIFY2(checks.stopReason().startsWith(reason), qPrintable(checks.stopReason()));
    QCOMPARE((*m_script)->questions().size(), 1);
    QVERIFY((*m_script)->questions().first().message.startsWith(reason));
    checkNothingElseChanged(before, {});
}

void FaultsTest::packageFolderSwappedForALink_data()
{
    QTest::addColumn<QString>("prefix");   // put before the outside folder's path
    QTest::newRow("absolute") << QString();
    QTest::newRow("climbing out") << "../../../../../../../../../../..";
}

// Canaries outside the volume, and inside it where the link leads on the
// volume, with the names the plan removes.
void FaultsTest::packageFolderSwappedForALink()
{
    QFETCH(QString, prefix);
    QTemporaryDir outside;
    for (const QString &name : QStringList{"/EditorData/data.bin", "/EditorData/Sub/more.bin"}) {
        QVERIFY(QDir().mkpath(QFileInfo(outside.path() + name).path()));
        QFile file(outside.path() + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("canary") == 6);
        QVERIFY(m_volume->writeFile(outside.path() + name, "twin"));
    }
    const QMap<QString, QString> outsideBefore = treeSnapshot(outside.path());
    const QMap<QString, QString> twinBefore = treeSnapshot(m_volume->physical(outside.path()));
    QVERIFY(!DeleteHelper::blessHelper());
    Catalogue catalogue;
    const QList<PackageRecord> selection = scanned(&catalogue);
    const UninstallPlan plan = UninstallPlanner::plan(selection, catalogue, true);
    QVERIFY(plan.removeFiles.contains("/Library/EditorData/data.bin"));

    QVERIFY(QDir(m_volume->physical("/Library/EditorData")).removeRecursively());
    QVERIFY(QFile::link(prefix + outside.path() + "/EditorData", m_volume->physical("/Library/EditorData")));
    DeleteHelper helper;
    const UninstallOutcome outcome = UninstallRun(plan, selection, helper).execute([](const QString &) {});

    QCOMPARE(treeSnapshot(outside.path()), outsideBefore);
    QCOMPARE(treeSnapshot(m_volume->physical(outside.path())), twinBefore);
    QStringList reports;
    for (const kestrum::AlertQuestion &question : (*m_script)->questions())
        reports.append(question.message.section('\n', 0, 0));
    QVERIFY2(reports.contains(kFailedDelete), qPrintable(reports.join('\n')));
    QVERIFY(QFileInfo::exists(m_volume->physical(outcome.logFile)));   // the run went on
}

void FaultsTest::billCutShortBeforeReading_data()
{
    QTest::addColumn<int>("keep");   // bytes kept; negative: counted from the end
    for (int keep : {0, 16, 512, -512, -1})
        QTest::newRow(qPrintable(QString::number(keep))) << keep;
}

// Cut between listing the receipts and reading the bill. A cut bill lacks
// what opening needs, wherever it is cut: nothing is listed in part, and the
// package is shown as damaged.
void FaultsTest::billCutShortBeforeReading()
{
    QFETCH(int, keep);
    const QList<PackageRecord> records = PackageHelperNative::getPackages();
    QCOMPARE(records.size(), 1);
    const auto files = [](PackageRecord record) {
        return PackageHelperNative::getFilesForPackage(record, PackageHelperNative::installLocationForPackage(record));
    };
    QVERIFY(files(records.first()).contains("/Library/EditorData/Sub/more.bin"));
    QFile bill(m_volume->physical(records.first().bomPath()));
    QVERIFY(bill.size() > 1024);
    QVERIFY(bill.resize(keep >= 0 ? keep : bill.size() + keep));
    PackageRecord record = records.first();
    QCOMPARE(PackageHelperNative::getFilesForPackage(record, PackageHelperNative::installLocationForPackage(record)),
             QStringList());
    QVERIFY(record.isDamaged());
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
