#include "kestrum/CrashReporter.h"
#include "platform/CrashSignalHandler.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "platform/Bundle.h"
#include "platform/Host.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"
#include "support/LogRing.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <stdexcept>

#include <sys/mman.h>
#include <unistd.h>

using namespace kestrum;
using namespace platform;

namespace {

// The signatures the application passes: stack frames of its own classes
// and the system's lines about uncaught exceptions.
const QStringList kAppSignatures{"[Delete", "[Value", "[Package", "AppDele", "[NSException", "uncaught exception"};

const char kUserReports[] = "~/Library/Logs/DiagnosticReports/";
const char kLocalReports[] = "/Library/Logs/DiagnosticReports/";

const QString kQuestionText = QStringLiteral(
    "It seems like Dorvane has crashed recently. Please consider sending the crash-log to help fix this problem. "
    "Also make sure you are using the latest version by using the built-in update mechanism since most reported "
    "crashes are already fixed in the latest version.");

// A report as an old Mac crash log holds it: earlier crashes, the last one,
// the binary images.
QByteArray macReport(const QByteArray &lastCrash)
{
    return "**********\n\nHost Name: old\nThread 0 Crashed:\n0 -[Old crash]\n\nBinary Images:\n0x1000 old\n"
           "**********\n\n"
        + lastCrash + "\nBinary Images:\n0x1000 - 0x2000 Dorvane\n";
}

// The child process of the fatal-signal tests: TST_CRASH_CHILD names the way
// it dies, TST_CRASH_ROOT the volume.
constexpr char kChildMode[] = "TST_CRASH_CHILD";
constexpr char kChildRoot[] = "TST_CRASH_ROOT";

// A real memory fault in every build: a write to a page that allows no
// access. A write through a null pointer is undefined, and the optimiser
// dropped it, so the child went on and exited normally.
void writeToForbiddenPage()
{
    void *page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        std::abort();
    *static_cast<volatile int *>(page) = 1;
}

// The feedback alert itself crashing: an uncaught exception was being
// reported when the process died.
class CrashingPresenter : public AlertPresenter
{
public:
    AlertAnswer present(const AlertQuestion &) override
    {
        writeToForbiddenPage();
        return {};
    }
};

int runChild(int argc, char **argv, const QByteArray &mode)
{
    QApplication app(argc, argv);
    platform::Volume::configure(qEnvironmentVariable(kChildRoot), QStringLiteral("/Users/tester"));
    platform::UserDefaults::standard().reload();
    static Kestrum shared;
    installCrashSignalHandlers();
    if (mode == "segv") {
        writeToForbiddenPage();
    } else if (mode == "abort") {
        std::abort();
    } else if (mode == "exception") {
        setAlertPresenter(std::make_shared<CrashingPresenter>());
        dispatch_async_back([] { throw std::runtime_error("while saving"); });
        return app.exec();
    }
    return 3;
}

void check(const std::optional<QStringList> &signatures)
{
    RvCrashReporter::CheckAndReportCrashes(QStringLiteral("crash@dorvane.example"), signatures);
}

} // namespace

class CrashReportsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VolumeFixture> m_volume;

    // A report in the user's folder, or the one given.
    bool writeReport(const QString &name, const QByteArray &contents,
                     const QDateTime &modified = QDateTime::currentDateTime().addSecs(-60),
                     const char *folder = kUserReports)
    {
        const QString logical = QLatin1String(folder) + name;
        QFile file(m_volume->physical(logical));
        return m_volume->writeFile(logical, contents) && file.open(QIODevice::ReadWrite)
            && file.setFileTime(modified, QFileDevice::FileModificationTime);
    }

    // The names in the user's report folder after the child died the given way;
    // none when it did not die of a signal.
    QStringList reportsAfterCrash(const QByteArray &mode)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildMode), QString::fromLatin1(mode));
        env.insert(QString::fromLatin1(kChildRoot), m_volume->root());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {});
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
        }
        if (process.exitStatus() != QProcess::CrashExit)
            return {};
        return QDir(m_volume->physical(kUserReports)).entryList(QDir::Files);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_volume = std::make_unique<VolumeFixture>();
        static Kestrum shared;
        QCOMPARE(hx->appName(), QStringLiteral("Dorvane"));
    }

    // Every test starts with no reports and no crash settings.
    void init()
    {
        QDir(m_volume->physical(kUserReports)).removeRecursively();
        QDir(m_volume->physical(kLocalReports)).removeRecursively();
        auto &defaults = platform::UserDefaults::standard();
        defaults.removeObject(QStringLiteral("Kestrum_lastcrashdate"));
        defaults.removeObject(QStringLiteral("Kestrum_nevercheckcrashes"));
    }

    void reportFileName()
    {
        // The signal handler works the local time out by hand; QDateTime checks it.
        for (const QDateTime &moment : {QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC),
                                        QDateTime(QDate(1999, 12, 31), QTime(12, 30, 5), Qt::UTC),
                                        QDateTime(QDate(2100, 1, 1), QTime(7, 8, 9), Qt::UTC)}) {
            for (int offset : {0, -5 * 3600, 5 * 3600 + 1800}) {
                const QString local = moment.toOffsetFromUtc(offset).toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
                QCOMPARE(crashReportFileName("Dorvane", moment.toSecsSinceEpoch(), offset, "mac"),
                         QStringLiteral("Dorvane_%1_mac.crash").arg(local));
            }
        }
    }

    void newestReportWins()
    {
        const QDateTime base = QDateTime::currentDateTime().addDays(-2);
        QVERIFY(writeReport("Dorvane_a_mac.crash", macReport("user older\n"), base));
        QVERIFY(writeReport("Dorvane_b_mac.crash", macReport("local newest\n"), base.addSecs(60), kLocalReports));
        // Newer still, but not this application's by the exact name.
        QVERIFY(writeReport("dorvane_c_mac.crash", macReport("lower case\n"), base.addSecs(120)));
        QVERIFY(writeReport("Finder_d_mac.crash", macReport("other app\n"), base.addSecs(180)));
        QCOMPARE(RvCrashReporter::newestReport(QStringLiteral("Dorvane"))->path,
                 QStringLiteral("/Library/Logs/DiagnosticReports/Dorvane_b_mac.crash"));

        // On equal dates the one found first, in the user's folder, wins, and it is the one mailed.
        QVERIFY(writeReport("Dorvane_e_mac.crash", macReport("user same date\n"), base.addSecs(60)));
        QCOMPARE(RvCrashReporter::newestReport(QStringLiteral("Dorvane"))->path,
                 QStringLiteral("/Users/tester/Library/Logs/DiagnosticReports/Dorvane_e_mac.crash"));
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(1000);
        UrlRecorder recorder;
        check(std::nullopt);
        QCOMPARE(recorder.urls().size(), 1);
        QVERIFY(recorder.urls().first().toEncoded().contains(
            "**********%0A%0A%0Auser%20same%20date%0A%0A%0AUser%20Defaults:"));
    }

    // Asked about only for a report of this application (exact name) newer than
    // the last check, and with signatures, only when the last crash in it (not
    // an earlier one, not the binary images: the excerpt) has one of them.
    void whenAsked_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QDateTime>("modified");
        QTest::addColumn<QByteArray>("lastCrash");
        QTest::addColumn<bool>("signatures");
        QTest::addColumn<bool>("asked");
        const QDateTime now = QDateTime::currentDateTime();
        const QByteArray delegate("0 -[AppDelegate crash]\n"), display("0 -[NSView display]\n");
        const QString report = "Dorvane_x_mac.crash";
        QTest::newRow("no report") << QString() << now << delegate << false << false;
        QTest::newRow("at the start moment") << "Dorvane_start_mac.crash" << QDateTime(QDate(2007, 1, 1), QTime(0, 0))
                                             << delegate << false << false;
        QTest::newRow("another application") << "Finder_2026_mac.crash" << now << delegate << false << false;
        QTest::newRow("name in another case") << "DORVANE_2026_mac.crash" << now << delegate << false << false;
        QTest::newRow("uncaught exception")
            << report << now << QByteArray("*** Terminating app due to uncaught exception 'X'\n") << true << true;
        QTest::newRow("Linux frame of the delegate")
            << report << now << QByteArray("Dorvane(_ZN7dorvane11AppDelegate4scanEv+0x12)[0x55d0]\n") << true << true;
        QTest::newRow("signature in an earlier crash only") << report << now << display << true << false;
        QTest::newRow("signature among the images")
            << report << now << display + "Binary Images:\n AppDelegate\n" << true << false;
        QTest::newRow("no signatures: any crash") << report << now << display << false << true;
    }

    void whenAsked()
    {
        QFETCH(QString, name);
        QFETCH(QDateTime, modified);
        QFETCH(QByteArray, lastCrash);
        QFETCH(bool, signatures);
        QFETCH(bool, asked);
        if (!name.isEmpty())
            QVERIFY(writeReport(name, "**********\n0 -[AppDelegate earlier]\n" + macReport(lastCrash),
                                modified.addSecs(-60)));
        QVERIFY(m_volume->makeFolder(kLocalReports)); // an empty folder changes nothing
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(1002);
        check(signatures ? std::optional<QStringList>(kAppSignatures) : std::nullopt);
        const QVariant stored = platform::UserDefaults::standard().storedObject("Kestrum_lastcrashdate");
        QCOMPARE(presenter->questions().size(), asked ? 1 : 0);
        QCOMPARE(stored.isValid(), asked);
        if (!asked)
            return;
        const AlertQuestion question = presenter->questions().first();
        QCOMPARE(question.title, QStringLiteral("Dorvane Crash Report"));
        QCOMPARE(question.message, kQuestionText);
        QCOMPARE(question.buttons, (QStringList{"Send", "Never", "Cancel"}));
    }

    // Cancel keeps quiet for three days, read back as a new launch would;
    // Never keeps quiet until the setting is removed.
    void cancelAndNeverKeepQuiet()
    {
        QVERIFY(writeReport("Dorvane_1_mac.crash", macReport("AppDelegate\n")));
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(1002);
        UrlRecorder recorder;
        const QDateTime before = QDateTime::currentDateTimeUtc();
        check(kAppSignatures);
        const QDateTime after = QDateTime::currentDateTimeUtc();
        QCOMPARE(presenter->questions().size(), 1);
        auto &defaults = platform::UserDefaults::standard();
        QVERIFY(!defaults.storedObject("Kestrum_nevercheckcrashes").isValid());
        defaults.reload();
        const QDateTime stored = defaults.storedObject("Kestrum_lastcrashdate").toDateTime();
        QVERIFY2(stored >= before.addSecs(259200 - 1) && stored <= after.addSecs(259200 + 1),
                 qPrintable(stored.toString(Qt::ISODateWithMs)));
        // Neither the same report nor a crash within the three days is asked
        // about; one after them is, and answered Never, none after that.
        presenter->enqueueButton(1001);
        check(kAppSignatures);
        for (const auto &[days, asked] : {std::pair{2, 1}, {4, 2}, {5, 2}}) {
            QVERIFY(writeReport(QStringLiteral("Dorvane_%1_mac.crash").arg(days), macReport("AppDelegate\n"),
                                QDateTime::currentDateTime().addDays(days)));
            check(kAppSignatures);
            QCOMPARE(presenter->questions().size(), asked);
        }
        defaults.removeObject("Kestrum_nevercheckcrashes");
        presenter->enqueueButton(1002);
        check(kAppSignatures);
        QCOMPARE(presenter->questions().size(), 3);
        QVERIFY(recorder.urls().isEmpty());
    }

    void sendComposesTheMail()
    {
        QVERIFY(writeReport("Dorvane_1_mac.crash",
                            macReport("Thread 0 Crashed:\n0 -[PackageController remove:] 100% done?\n")));
        for (const char *manager : {"~/Library/InputManagers/Zeta Helper/Info", "~/Library/InputManagers/Alpha",
                                    "~/Library/InputManagers/.DS_Store", "/System/Library/InputManagers/Beta"})
            QVERIFY(m_volume->writeFile(manager));
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(1000);
        UrlRecorder recorder;
        check(kAppSignatures);
        QDir(m_volume->physical("~/Library/InputManagers")).removeRecursively();
        QDir(m_volume->physical("/System")).removeRecursively();
        QCOMPARE(recorder.urls().size(), 1);

        // The whole settings domain, as stored now (with the new crash date).
        const QString defaults = describe(platform::UserDefaults::standard().persistentDomain());
        QVERIFY(defaults.contains(QStringLiteral("Kestrum_lastcrashdate = ")));
        const QString body =
            QStringLiteral("Unfortunately Dorvane has crashed!\n\n--Please fill in additional details here--\n\n\n"
                           "Machine Type: %1\nInput Managers:  Alpha  Zeta Helper  Beta \n\nCrash Log (%2):\n\n"
                           "**********\n\n\nThread 0 Crashed:\n0 -[PackageController remove:] 100% done?\n\n\n"
                           "User Defaults:\n\n**********\n%3")
                .arg(platform::Host::machineModel(),
                     QString::number(
                         Kestrum::parseBuildNumber(platform::Bundle::main().infoValue("CFBundleVersion").toString())),
                     defaults);
        const QString text = QStringLiteral("mailto:crash@dorvane.example?subject=Dorvane Crashreport&body=") + body;
        // Every byte escaped that RFC 2396 does not allow in a URL (written out
        // here, not taken from the reporter); "?", "&", "=" and "/" stay.
        QCOMPARE(QString::fromLatin1(recorder.urls().first().toEncoded()),
                 QString::fromLatin1(text.toUtf8().toPercentEncoding("!*'();/?:@&=+$,")));
    }

    void fatalSignalWritesReport_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QString>("signal");
        QTest::newRow("memory fault") << QByteArray("segv") << "SIGSEGV";
        QTest::newRow("abort") << QByteArray("abort") << "SIGABRT";
    }

    void fatalSignalWritesReport()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QString, signal);
        const QStringList names = reportsAfterCrash(mode);
        QCOMPARE(names.size(), 1);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        const QString pattern = QStringLiteral("^Dorvane_\\d{4}-\\d\\d-\\d\\d-\\d{6}_%1\\.crash$")
                                    .arg(QRegularExpression::escape(QString::fromUtf8(host).section('.', 0, 0)));
        QVERIFY2(QRegularExpression(pattern).match(names.first()).hasMatch(), qPrintable(names.first()));

        const QByteArray report = fileContents(m_volume->physical(QLatin1String(kUserReports) + names.first()));
        QVERIFY(report.startsWith("**********\n"));
        for (const QByteArray &part : {QByteArray("\nIdentifier:            com.dorvane.Dorvane\n"),
                                       "\nException Type:        " + signal.toLatin1() + "\n",
                                       QByteArray(" Crashed:\n"), QByteArray("\nBinary Images:\n")})
            QVERIFY2(report.contains(part), part.constData());
        // The backtrace runs through this test's executable and the C library.
        const QString excerpt = RvCrashReporter::excerpt(report);
        QVERIFY2(excerpt.contains(QStringLiteral("tst_crashreports(")), qPrintable(excerpt));
        QVERIFY2(excerpt.contains(QStringLiteral("libc.so.6(")), qPrintable(excerpt));

        // The excerpt names no class of the application's in a way its
        // signatures recognise, so the application does not offer this report;
        // a check without signatures does.
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(1002);
        check(kAppSignatures);
        QVERIFY(presenter->questions().isEmpty());
        check(std::nullopt);
        QCOMPARE(presenter->questions().size(), 1);
    }

    void crashWhileReportingAnExceptionIsOffered()
    {
        QCOMPARE(reportsAfterCrash("exception").size(), 1);
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(1000);
        // The mail program does not open this time: the failure is logged.
        QList<QUrl> urls;
        const auto previous = platform::Workspace::setUrlOpener([&urls](const QUrl &url) {
            urls.append(url);
            return false;
        });
        check(kAppSignatures);
        platform::Workspace::setUrlOpener(previous);
        QVERIFY(wasLogged(LogWarning, QStringLiteral(" message: Warning: Dorvane was unable to open the URL.")));
        QCOMPARE(presenter->questions().size(), 1);
        QCOMPARE(urls.size(), 1);
        const QString mail = QUrl::fromPercentEncoding(urls.first().toEncoded());
        QVERIFY2(mail.contains(QStringLiteral("Application Specific Information:\n*** Terminating app due to uncaught "
                                              "exception 'std::runtime_error', reason: 'while saving'\n")),
                 qPrintable(mail));
        QVERIFY(mail.contains(QStringLiteral("Exception Type:        SIGSEGV\n")));
        QVERIFY(!mail.contains(QStringLiteral("Binary Images:")));
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray mode = qgetenv(kChildMode);
    if (!mode.isEmpty())
        return runChild(argc, argv, mode);
    QApplication app(argc, argv);
    CrashReportsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashreports.moc"
