#include "dorvane/Settings.h"
#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/UninstallPanel.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "helperwire/HelperLabel.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Kestrum.h"
#include "support/CommandLineRun.h"
#include "support/FixturePackages.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"
#include "ui_MainWindow.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTest>

#include <atomic>
#include <linux/sockios.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace dorvane;
using volumegen::PathItem;

namespace {

const QString kEditor = "com.example.suite.Editor";
const QString kApp = "/Applications/Editor.app";
const QString kLogFolder = "~/Library/Application Support/Dorvane/Logfiles";
const QString kFailedDelete = "Failed to delete files/folders.";

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

} // namespace

// Uninstalls meeting faults: the helper tool dying mid-request, a full disk
// under the logs, receipts, folders and bills changed behind the program's
// back. The program reports what went wrong and removes nothing it should not.
class FaultsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }

    void init()
    {
        if (::geteuid() != 0)
            QSKIP("the helper tool runs as root");
        m_volume = std::make_unique<VolumeFixture>();
        static kestrum::Kestrum shared;   // made on a fixture volume, where it makes its support folder
        m_builder = std::make_unique<volumegen::VolumeBuilder>(m_volume->root(), m_volume->home());
        const QString data = "Library/EditorData";
        volumegen::Package editor = package(kEditor, {PathItem::folder(data), PathItem::file(data + "/data.bin", 100)});
        editor.paths += {PathItem::folder(data + "/Sub"), PathItem::file(data + "/Sub/more.bin", 10)};
        editor.applications = {app(kApp, "Editor", "com.example.Editor")};
        m_builder->addStandardFolders();
        writeReceipts(*m_builder, {editor});
        m_script = std::make_unique<ScriptedPresenterScope>();
        m_urls = std::make_unique<UrlRecorder>();
        // Removed for good, unless a test keeps them.
        kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(0);
    }

    void cleanup()
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

    void helperStoppedDuringARequest_data()
    {
        QTest::addColumn<bool>("processRunning");   // so that the first request is "kill"
        QTest::addColumn<QString>("link");   // for the package folder, to %1 outside; none: the daemon is killed
        QTest::addColumn<QString>("report");
        QTest::newRow("killed ending processes") << true << QString() << "Failed to kill PIDs.";
        QTest::newRow("killed deleting files") << false << QString() << kFailedDelete;
        QTest::newRow("absolute link") << false << "%1/EditorData" << kFailedDelete;
        QTest::newRow("link climbing out") << false << "../../../../../../../../../../..%1/EditorData" << kFailedDelete;
    }

    // The command line's first request waits unread by the stopped daemon. Then
    // the daemon is killed and its job starts it again, or the planned folder
    // becomes a link to canaries outside the volume (twins where it leads on
    // the volume) and the daemon goes on. The run ends removing nothing else.
    void helperStoppedDuringARequest()
    {
        QFETCH(bool, processRunning);
        QFETCH(QString, link);
        QFETCH(QString, report);
        const bool killed = link.isEmpty();
        const QString program = m_volume->physical(kApp + "/Contents/Resources/edhelper");
        if (processRunning) {
            QVERIFY(QFile::copy("/bin/sleep", program));
            m_program.start(program, {"600"});
            QVERIFY(m_program.waitForStarted());
        }
        QTemporaryDir outside;
        QVERIFY(QDir().mkpath(outside.path() + "/EditorData/Sub"));
        for (const char *name : {"/EditorData/data.bin", "/EditorData/Sub/more.bin"}) {
            QFile canary(outside.path() + name);
            QVERIFY(canary.open(QIODevice::WriteOnly) && canary.write("canary") == 6);
            QVERIFY(m_volume->writeFile(outside.path() + name, "twin"));
        }
        const QMap<QString, QString> outsideBefore = treeSnapshot(outside.path());
        const platform::DaemonJob::Places places = HelperInstaller::places();
        QVERIFY(!DeleteHelper::blessHelper());
        std::optional<qint64> daemon;
        QTRY_VERIFY((daemon = platform::DaemonJob::runningPid(places)));   // the keeper starts it
        QMap<QString, QString> before = treeSnapshot(m_volume->root());

        QVERIFY(::kill(pid_t(*daemon), SIGSTOP) == 0);
        QProcess cli;
        startCli(cli);
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(requestUnread(cli.processId()) || cli.state() != QProcess::Running, 30000);
        if (!killed) {
            QVERIFY(QDir(m_volume->physical("/Library/EditorData")).removeRecursively());
            QVERIFY(QFile::link(link.arg(outside.path()), m_volume->physical("/Library/EditorData")));
            before = treeSnapshot(m_volume->root());
        }
        QVERIFY(::kill(pid_t(*daemon), killed ? SIGKILL : SIGCONT) == 0);
        QVERIFY(cli.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        // The files of a failed delete are still there, and said so.
        QVERIFY2(cli.exitCode() == (processRunning ? 0 : 4), qPrintable(err));
        // A broken connection is reported first, then the request's own failure.
        const qsizetype interrupted = killed ? err.indexOf("XPC connection interrupted") : 0;
        QVERIFY2(interrupted >= 0 && err.indexOf(report, interrupted) >= 0, qPrintable(err));
        QCOMPARE(err.contains("got empty response! XPC_TYPE_ERROR "), killed);
        QCOMPARE(m_program.state() == QProcess::Running, processRunning);   // the kill never reached it
        const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        const QStringList failed = json.value("failed").toVariant().toStringList();
        QCOMPARE(failed.contains("/Library/EditorData/data.bin"), !processRunning);
        // The later requests were answered and the log written. A delete that
        // went unanswered left its files: then the receipt stays, so that the
        // package is listed again with what it still holds.
        const bool unanswered = killed && !processRunning;
        QCOMPARE(json.value("receiptsKept").toBool(), unanswered);
        QCOMPARE(QFileInfo::exists(receipt()), unanswered);
        QVERIFY(QFileInfo::exists(m_volume->physical(kLogFolder + "/" + kEditor + ".log")));
        const std::optional<qint64> now = platform::DaemonJob::runningPid(places);
        QVERIFY(now && (*now != *daemon) == killed && platform::DaemonJob::answers(places));
        QCOMPARE(treeSnapshot(outside.path()), outsideBefore);
        QStringList removed;
        for (const char *key : {"removedFiles", "removedFolders", "removedAdditional"})
            removed += json.value(key).toVariant().toStringList();
        removed.removeIf([&](const QString &path) { return failed.contains(path); });
        checkNothingElseChanged(before, removed);
    }

    void runCutShortIsUndone_data()
    {
        QTest::addColumn<bool>("helperKilled");   // else the command line is
        QTest::newRow("helper killed") << true;
        QTest::newRow("command line killed") << false;
    }

    // A run that keeps what it removes, cut short while its first delete
    // waits unread: the helper is killed there (and started again by its
    // job), or the command line is and the helper carries the request out
    // for nobody. Undo then gives back all that moved.
    void runCutShortIsUndone()
    {
        QFETCH(bool, helperKilled);
        kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(7);
        const platform::DaemonJob::Places places = HelperInstaller::places();
        QVERIFY(!DeleteHelper::blessHelper());
        std::optional<qint64> daemon;
        QTRY_VERIFY((daemon = platform::DaemonJob::runningPid(places)));
        const QMap<QString, QString> before = treeSnapshot(m_volume->root(), QString(), true);
        QVERIFY(::kill(pid_t(*daemon), SIGSTOP) == 0);
        QProcess cli;
        startCli(cli);
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(requestUnread(cli.processId()) || cli.state() != QProcess::Running, 30000);
        const QString store = m_volume->physical(helperwire::quarantinePath().toString());
        if (helperKilled) {
            QVERIFY(::kill(pid_t(*daemon), SIGKILL) == 0);
            QVERIFY(cli.waitForFinished(60000));
        } else {
            cli.kill();
            QVERIFY(cli.waitForFinished(10000));
            QVERIFY(::kill(pid_t(*daemon), SIGCONT) == 0);
            // The helper moves the two files for a client that is gone.
            QTRY_COMPARE_WITH_TIMEOUT(
                QDirIterator(store, QDir::Files, QDirIterator::Subdirectories).hasNext(), true, 30000);
        }
        QVERIFY(!QFileInfo::exists(m_volume->physical(kApp)) || !helperKilled);
        const CommandLineRun undo = runCommandLine(m_volume->root(), m_volume->home(), {"undo", "--yes", "--json"});
        QVERIFY2(undo.exitCode == 0, undo.out.constData());
        QVERIFY(!QJsonDocument::fromJson(undo.out).object().value("restored").toArray().isEmpty());
        checkNothingElseChanged(before, {}, true);
    }

    void logFolderFull_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("command line") << false;
        QTest::newRow("window") << true;
    }

    // A full tmpfs over the log folder: the uninstall goes through and says
    // why its log is missing.
    void logFolderFull()
    {
        QFETCH(bool, window);
        const QString folder = m_volume->physical(kLogFolder);
        QVERIFY(QDir().mkpath(folder));
        if (::mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=16k") != 0)
            QSKIP(qPrintable("a tmpfs cannot be mounted here: " + QString::fromLocal8Bit(std::strerror(errno))));
        m_mounted = folder;
        QFile filler(folder + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(64 * 1024, 'x'));   // more than it holds
        filler.close();
        QCOMPARE(QStorageInfo(folder).bytesAvailable(), 0);

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
            QVERIFY2(err.contains("dorvane: the uninstall log could not be written: " + expected.toUtf8()),
                     err.constData());
        }
        QVERIFY(!QFileInfo::exists(m_volume->physical("/Library/EditorData/data.bin")));   // it went through
        QVERIFY(fileContents(m_volume->physical("~/Library/Application Support/Dorvane/Dorvane.log"))
                    .contains("uninstalled package '" + kEditor.toUtf8() + "'"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"filler"});
    }

    void receiptChangedAfterTheScan_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("keep");   // bytes of a cut bill kept; negative: counted from the end
        for (const char *change : {"folder made a file", "folder a dangling link", "receipt removed", "bill removed"})
            QTest::newRow(change) << QString::fromLatin1(change) << 0;
        for (int keep : {0, 16, 512, -512, -1})
            QTest::newRow(qPrintable("bill cut to " + QString::number(keep))) << "bill cut" << keep;
        QTest::newRow("bill cut while it is read") << "bill cut while read" << 512;
    }

    // A receipt changed since the scan stops the uninstall before its plan,
    // and the user is told why. A bill cut short lacks what opening needs,
    // wherever it is cut: nothing is listed in part, the package is damaged.
    // It is read whole at once, so a cut that meets the read does no more.
    void receiptChangedAfterTheScan()
    {
        QFETCH(QString, change);
        QFETCH(int, keep);
        const QList<PackageRecord> selection =
            CatalogueScanner::scan(CatalogueScanner::damagedIconPath())->installerPackages;
        QCOMPARE(selection.size(), 1);   // the editor, the volume's one package
        PackageRecord record = selection.first();
        const auto files = [&] {
            return PackageHelperNative::getFilesForPackage(record, PackageHelperNative::installLocationForPackage(record));
        };
        const QString folder = QFileInfo(receipt()).path();
        QFile bill(m_volume->physical(record.bomPath()));
        if (change == "bill cut") {
            QVERIFY(files().contains("/Library/EditorData/Sub/more.bin"));
            QVERIFY(bill.size() > 1024);
            QVERIFY(bill.resize(keep >= 0 ? keep : bill.size() + keep));
            QCOMPARE(files(), QStringList());
            QVERIFY(record.isDamaged());
            return;
        }
        if (change == "bill cut while read") {   // and written again, over and over
            const QStringList whole = files();
            std::atomic<bool> stop = false;
            std::thread cutter([&, bytes = fileContents(bill.fileName())] {
                for (QFile file(bill.fileName()); !stop && file.open(QIODevice::ReadWrite); file.close())
                    file.resize(keep), file.write(bytes);
            });
            QSet<QStringList> seen;   // the whole list or none, never a part
            for (int read = 0; read < 2000; ++read)
                seen.insert(files());
            stop = true;
            cutter.join();
            QCOMPARE(seen, (QSet<QStringList>{whole, {}}));
            return;
        }
        if (change.startsWith("folder"))
            QVERIFY(QDir(folder).removeRecursively());
        if (change == "folder made a file")
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        else if (change == "folder a dangling link")
            QVERIFY(QFile::link("/nowhere", folder));
        else
            QVERIFY(QFile::remove(change == "bill removed" ? bill.fileName() : receipt()));
        const QMap<QString, QString> before = treeSnapshot(m_volume->root());

        UninstallChecks checks;
        QVERIFY(!checks.mayPlan(selection));
        const QString reason = "It seems you have already manually uninstalled parts of the package '" + kEditor + "'";
        QVERIFY2(checks.stopReason().startsWith(reason), qPrintable(checks.stopReason()));
        QCOMPARE((*m_script)->questions().size(), 1);
        QVERIFY((*m_script)->questions().first().message.startsWith(reason));
        checkNothingElseChanged(before, {});
    }

private:
    void startCli(QProcess &cli) const
    {
        cli.start(DORVANE_CLI,
                  {"--root", m_volume->root(), "--home", m_volume->home(), "uninstall", kEditor, "--yes", "--json"});
    }

    QString receipt() const { return m_volume->physical(m_builder->receiptPath(m_builder->receipts().first())); }

    // Every item before is there after, unchanged, but for what the plan
    // removed and the program's own support files, the receipt and the helper.
    void checkNothingElseChanged(const QMap<QString, QString> &before, const QStringList &removedPaths,
                                 bool whole = false)
    {
        QStringList removed, changing{receipt()};
        for (const QString &path : removedPaths)
            removed.append(m_volume->physical(path));
        const platform::DaemonJob::Places helper = HelperInstaller::places();
        for (const QString &path : {m_builder->billPath(m_builder->receipts().first()), helper.tool.toString(),
                                    helper.jobList.toString(), helper.socket.toString(), helper.pidFile.toString(),
                                    helperwire::quarantinePath().parent().toString(),
                                    QString("~/Library/Application Support/Dorvane"),
                                    QString("~/Library/Preferences/com.dorvane.Dorvane.plist")})
            changing.append(m_volume->physical(path));
        const auto lines = [&](const QMap<QString, QString> &items, const QStringList &gone) {
            QStringList kept;
            for (auto item = items.cbegin(); item != items.cend(); ++item)
                if (!isWithinAny(item.key(), changing + gone))
                    kept.append(item.key() + ": " + item.value());
            return kept;
        };
        QCOMPARE(lines(treeSnapshot(m_volume->root(), QString(), whole), {}), lines(before, removed));
    }

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<volumegen::VolumeBuilder> m_builder;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<UrlRecorder> m_urls;   // no mail program for the problem reports
    QProcess m_program;
    QString m_mounted;
};

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"
