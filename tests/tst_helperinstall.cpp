#include "dorvane/StartUp.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/toolclient/HelperInstaller.h"
#include "helperwire/HelperLabel.h"
#include "kestrum/AlertPresenter.h"
#include "platform/BootUnit.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/LogRing.h"
#include "support/ScriptedPresenter.h"
#include "support/FixturePackages.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>

using namespace dorvane;
using platform::Volume;

namespace {

const QString kCreateLine = "SecStaticCodeCreateWithPath() error for";
const QString kSigningLine = "SecCodeCopySigningInformation() error for";

// Gone, or a zombie that nobody reaps.
bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().split(' ').value(2) == "Z";
}

bool setImmutable(const QString &path, bool on) { return QProcess::execute("chattr", {on ? "+i" : "-i", path}) == 0; }
qint64 daemonPid() { return platform::DaemonJob::runningPid(HelperInstaller::places()).value_or(0); }

} // namespace

// The helper tool installed from the built bundle onto fixture volumes, and
// its daemon started, replaced and stopped for real.
class HelperInstallTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void blessHelper_data();
    void blessHelper();
    void commandLine();
    void killedDaemonInterruptsTheRequest();
    void bootUnitStartsTheJobFromACopy();
    void withoutRootTheUserMustAuthorize();

private:
    QString toolFile() const { return m_volume->physical(helperwire::installedToolPath().toString()); }

    std::unique_ptr<VolumeFixture> m_volume;
};

void HelperInstallTest::init()
{
    if (::geteuid() != 0)
        QSKIP("installing a root daemon needs root");
    m_volume = std::make_unique<VolumeFixture>();
    if (!QFile::exists(HelperInstaller::shippedToolPath()))
        QSKIP("the helper tool is not built into the bundle");
}

void HelperInstallTest::cleanup()
{
    if (m_volume && QFile::exists(toolFile()))
        setImmutable(toolFile(), false);
    m_volume.reset(); // stops the daemons
}

void HelperInstallTest::blessHelper_data()
{
    QTest::addColumn<QString>("change");    // done to a current installation first
    QTest::addColumn<bool>("installs");
    QTest::addColumn<QString>("logged");    // a level-3 line; empty: neither Sec line
    QTest::addColumn<QString>("domain");    // of the error; empty: none
    const QString missing = kCreateLine + " file:///Library/PrivilegedHelperTools/" + helperwire::helperLabel() + ": 2";
    QTest::newRow("no job") << "no job" << true << QString() << QString();
    QTest::newRow("current and answering") << "" << false << QString() << QString();
    QTest::newRow("another version, even a newer one") << "version" << true << QString() << QString();
    QTest::newRow("tool without the section") << "no section" << true << QString() << QString();
    QTest::newRow("tool missing") << "missing" << true << missing << QString();
    QTest::newRow("no executable") << "garbage" << true << kCreateLine << QString();
    QTest::newRow("broken section table") << "broken" << true << kSigningLine << QString();
    QTest::newRow("job without ProgramArguments") << "no arguments" << true << QString() << QString();
    // A reboot: the current tool is started again as it is.
    QTest::newRow("current but silent") << "silent" << false << QString() << QString();
    QTest::newRow("another version, and the old tool cannot go") << "immutable" << false << "Warning: couldn't SMJobRemove" << "domain";
}

void HelperInstallTest::blessHelper()
{
    QFETCH(QString, change);
    QFETCH(bool, installs);
    QFETCH(QString, logged);
    QFETCH(QString, domain);
    const platform::DaemonJob::Places places = HelperInstaller::places();
    if (change != "no job") {
        QVERIFY(!HelperInstaller::blessHelper());
        QTRY_VERIFY(daemonPid() > 0);
    }
    QByteArray tool = fileContents(toolFile());
    if (change == "version" || change == "immutable") {
        // Every digit of the version changed.
        const qsizetype start = tool.indexOf("<string>", tool.indexOf("<key>CFBundleVersion</key>")) + 8;
        for (qsizetype i = start; i < tool.indexOf("</string>", start); ++i)
            tool[i] = tool[i] == '9' ? '8' : '9';
    }
    tool = change == "no section" ? fileContents("/bin/true")
         : change == "garbage"    ? QByteArray("#!/bin/sh\nexit 0\n")
         : change == "broken"     ? tool.replace(40, 8, QByteArray(8, '\xff')) // the section table's offset
                                  : tool;
    if (change == "version" || change == "immutable" || change == "no section" || change == "garbage" || change == "broken")
        QVERIFY(Volume::current()->writeFile(helperwire::installedToolPath(), tool, nullptr, 0755));
    if (change == "missing")
        QVERIFY(Volume::current()->removeItem(helperwire::installedToolPath()));
    if (change == "no arguments") {
        QVariantMap job = platform::PropertyList::readFile(m_volume->physical(places.jobList.toString())).toMap();
        QVERIFY(job.remove("ProgramArguments"));
        QVERIFY(Volume::current()->writeFile(places.jobList, platform::PropertyList::toData(job)));
    }
    if (change == "silent" || change == "immutable")
        QVERIFY(platform::DaemonJob::stop(places));
    if (change == "immutable" && !setImmutable(toolFile(), true))
        QSKIP("no immutable flag on this file system");
    const qint64 before = daemonPid();
    const std::optional<platform::ItemStatus> toolBefore = Volume::current()->status(places.tool, platform::Follow::Final);

    bool installed = false;
    const std::optional<HelperError> error = HelperInstaller::blessHelper(&installed);

    QCOMPARE(installed, installs);
    if (!logged.isEmpty())
        QVERIFY2(wasLogged(3, logged), qPrintable(loggedMessages(3).join('\n')));
    else
        QVERIFY(!wasLogged(3, kCreateLine) && !wasLogged(3, kSigningLine));
    if (!domain.isEmpty()) {
        QVERIFY(error);
        QCOMPARE(error->domain, domain);
        QCOMPARE(error->code, qint64(999));
        QVERIFY(error->description().contains("NSLocalizedFailureReason="));
        return;
    }
    QVERIFY2(!error, qPrintable(error ? error->description() : QString()));
    const HelperStatus status = HelperInstaller::helperStatus();
    QVERIFY(status.installed && status.running && status.shippedVersion);
    QCOMPARE(status.installedVersion, status.shippedVersion);
    QTRY_VERIFY(daemonPid() > 0);
    const std::optional<platform::ItemStatus> toolAfter = Volume::current()->status(places.tool, platform::Follow::Final);
    if (installs) {
        QVERIFY(before == 0 || processGone(before));
        QVERIFY(daemonPid() != before);
        QCOMPARE(Volume::current()->readFile(places.tool, 1 << 28).value_or(QByteArray()), fileContents(HelperInstaller::shippedToolPath()));
        QVERIFY(QFileInfo(toolFile()).permissions().testFlag(QFile::ExeOther));
    } else {
        QCOMPARE(toolAfter->inode, toolBefore->inode);
        QCOMPARE(toolAfter->modifiedMSecs, toolBefore->modifiedMSecs);
        QCOMPARE(daemonPid() == before, change != "silent");   // a stopped one was started again
    }
}

// install, status, install again, remove, status: what each prints and what
// each leaves behind.
void HelperInstallTest::commandLine()
{
    QByteArray out;
    const auto run = [&](const QStringList &arguments) {
        QProcess process;
        process.start(DORVANE_CLI, QStringList{"--root", m_volume->root(), "helper"} + arguments);
        process.waitForFinished(30000);
        out = process.readAllStandardOutput() + process.readAllStandardError();
        return process.exitCode();
    };
    const QByteArray label = helperwire::helperLabel().toUtf8();
    QCOMPARE(run({"install"}), 0);
    QCOMPARE(out, "installed " + label + '\n');
    QCOMPARE(run({"status", "--json"}), 0);
    QJsonObject status = QJsonDocument::fromJson(out).object();
    const QJsonObject installed{{"installed", true}, {"running", true}, {"pid", daemonPid()},
                                {"installedTool", helperwire::installedToolPath().toString()},
                                {"socket", helperwire::socketPath().toString()}, {"installedVersion", status.value("shippedVersion")}};
    QVERIFY(status.value("shippedVersion").isString());
    for (auto field = installed.begin(); field != installed.end(); ++field)
        QCOMPARE(status.value(field.key()), field.value());
    QCOMPARE(run({"install"}), 0);
    QCOMPARE(out, "up to date " + label + '\n');
    QCOMPARE(run({"remove"}), 0);
    QVERIFY(processGone(installed.value("pid").toInteger()));
    QVERIFY(!QFile::exists(toolFile()));
    QVERIFY(!QFile::exists(m_volume->physical(helperwire::jobPlistPath().toString())));
    QCOMPARE(run({"status", "--json"}), 0);
    status = QJsonDocument::fromJson(out).object();
    QCOMPARE(status.value("installed"), false);
    QCOMPARE(status.value("running"), false);
    QVERIFY(status.value("installedVersion").isNull() && status.value("pid").isNull());
    QCOMPARE(run({"status", "--verbose"}), 2);
}

// The daemon killed while a request waits for its reply: the connection's
// report, then the request's own; the job starts the daemon again and the
// same client is served again.
void HelperInstallTest::killedDaemonInterruptsTheRequest()
{
    ScriptedPresenterScope presenter;
    presenter->enqueueButton(1001); // "Continue", twice: nothing mailed
    presenter->enqueueButton(1001);
    QVERIFY(!DeleteHelper::blessHelper());
    QTRY_VERIFY(daemonPid() > 0);
    const qint64 daemon = daemonPid();
    // The tool ends only what a package being uninstalled installed.
    volumegen::VolumeBuilder builder(m_volume->root(), m_volume->home());
    writeReceipts(builder, {package("com.example.sleeper", {programCopy("Library/Sleeper/sleep")})});
    const QStringList packages{"com.example.sleeper"};
    QProcess sleeper;
    sleeper.start(m_volume->physical("/Library/Sleeper/sleep"), {"60"});
    QVERIFY(sleeper.waitForStarted());
    DeleteHelper helper;
    helper.killPIDs({sleeper.processId() + 4000000}, packages, "first"); // no such process: quietly answered

    QCOMPARE(::kill(pid_t(daemon), SIGSTOP), 0);
    std::atomic<pid_t> thread{0};
    std::atomic<bool> answered{false};
    std::thread request([&] {
        thread = ::gettid();
        helper.killPIDs({sleeper.processId()}, packages, "second");
        answered = true;
    });
    // Killed only once the request waits in poll() for its reply.
    QTRY_VERIFY(thread != 0 && fileContents(QStringLiteral("/proc/self/task/%1/wchan").arg(thread.load())).contains("poll"));
    QCOMPARE(::kill(pid_t(daemon), SIGKILL), 0);
    QTRY_VERIFY(answered); // the reports are shown on this, the main, thread
    request.join();
    const QList<kestrum::AlertQuestion> questions = presenter->questions();
    QCOMPARE(questions.size(), 2);
    QVERIFY(questions[0].message.contains("XPC connection interrupted"));
    QVERIFY(questions[1].message.contains("got empty response! XPC_TYPE_ERROR  -  ")); // the kill's report
    QCOMPARE(sleeper.state(), QProcess::Running);

    QTRY_VERIFY(daemonPid() > 0 && daemonPid() != daemon);
    bool installed = false;
    QVERIFY(!HelperInstaller::blessHelper(&installed));
    QVERIFY(!installed); // its job started the daemon again
    helper.killPIDs({sleeper.processId()}, packages, "third");
    QVERIFY(sleeper.waitForFinished(10000));
    QCOMPARE(sleeper.exitStatus(), QProcess::CrashExit);
    QCOMPARE(presenter->questions().size(), 2);
}

// Where systemd runs the machine, the job starts at boot from a copy of the
// tool on the machine's own disk (here a folder standing for it), under the
// installed tool's name, and the unit goes with the job.
void HelperInstallTest::bootUnitStartsTheJobFromACopy()
{
    QTemporaryDir machine;
    const auto host = Volume::open(machine.path(), QString());
    QVERIFY(host);
    const platform::DaemonJob::Places places = HelperInstaller::places();
    const QVariantMap job = platform::DaemonJob::jobDictionary(
        places, {1501, Volume::current()->home(), "VolumeRoot", "ServedUserID", "ServedUserHome"});
    const QByteArray tool = fileContents(HelperInstaller::shippedToolPath());
    QString error;
    QVERIFY2(platform::BootUnit::install(*host, job, tool, &error), qPrintable(error));
    const QString name = platform::BootUnit::unitName(job);
    const QString copy = machine.path() + "/usr/local/libexec/dorvane/" + name.chopped(8);
    const QString unit = machine.path() + "/etc/systemd/system/" + name;
    const QString link = machine.path() + "/etc/systemd/system/multi-user.target.wants/" + name;
    QCOMPARE(fileContents(copy), tool);
    QVERIFY(QFileInfo(copy).permissions().testFlag(QFile::ExeOwner));
    const QString exec = QStringLiteral("ExecStart=@%1 \"%2\" \"--keep-alive\" \"--root\" \"%3\" \"--serve-uid\" \"1501\" "
                                        "\"--home\" \"%4\"\n")
                             .arg(copy.mid(machine.path().size()), places.tool.toString(), Volume::current()->canonicalRoot(),
                                  Volume::current()->home().toString());
    QVERIFY2(fileContents(unit).contains(exec.toUtf8()), fileContents(unit).constData());
    QCOMPARE(QFileInfo(link).symLinkTarget(), unit);
    platform::BootUnit::remove(*host, job);
    QVERIFY(!QFileInfo::exists(copy) && !QFileInfo::exists(unit) && !QFileInfo(link).isSymLink());
}

// As "nobody", where no administrator can be asked (pkexec is missing here
// or finds no agent to ask with): the start-up's installation fails, says
// why and ends the application.
void HelperInstallTest::withoutRootTheUserMustAuthorize()
{
    if (const QString root = qEnvironmentVariable("DORVANE_TEST_AS_NOBODY"); !root.isEmpty()) {
        m_volume.reset();
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(77);
        platform::Volume::configure(root, QStringLiteral("/Users/tester"));
        platform::UserDefaults::standard().reload();
        kestrum::setAlertPresenter(std::make_shared<kestrum::ConsolePresenter>());
        StartUp::registerDefaults();
        AppDelegate delegate;
        std::atexit([] { std::fputs("ATEXIT\n", stderr); });   // never run: the end is the flushing _exit
        delegate.applicationDidFinishLaunching();
        std::exit(0); // not reached: the failed installation ends the process
    }
    // The child ends through _exit, so its volume is made, handed to nobody
    // and removed here.
    VolumeFixture volume;
    QCOMPARE(QProcess::execute("chown", {"-R", "65534:65534", volume.root()}), 0);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DORVANE_TEST_AS_NOBODY", volume.root());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"withoutRootTheUserMustAuthorize"});
    QVERIFY(child.waitForFinished(30000));
    if (child.exitCode() == 77)
        QSKIP("cannot become nobody");
    QCOMPARE(child.exitCode(), 1);
    const QByteArray err = child.readAllStandardError();
    QVERIFY2(err.endsWith("Error\nFailed to install the helper tool for deleting packages. Perhaps you did not enter the "
                          "correct password for installation. (Error: Error Domain=auth Code=0)\n[Quit] -> Quit\n"),
             err.constData());
}

QTEST_MAIN(HelperInstallTest)
#include "tst_helperinstall.moc"
