#include "kestrum/Dispatch.h"
#include "kestrum/Feedback.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "kestrum/Resources.h"
#include "kestrum/widgets/Application.h"
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
#include <QProcess>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <unistd.h>

using namespace kestrum;

// The test executable doubles as the child process of the tests that end
// the process: with TST_FEEDBACK_CHILD set, main() runs one scenario instead
// of the tests. The child prints what the user would have seen and what the
// workspace was asked to open, one line each, and is ended by the code under
// test.
namespace child {

constexpr char kMode[] = "TST_FEEDBACK_CHILD";
constexpr char kRoot[] = "TST_FEEDBACK_ROOT";
constexpr char kAnswer[] = "TST_FEEDBACK_ANSWER";

void printLine(const QJsonObject &line)
{
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// Prints every question as a line of JSON, with the thread it came on, and
// answers the button the parent asked for.
class PrintingPresenter : public AlertPresenter
{
public:
    explicit PrintingPresenter(int answer) : m_answer(answer) {}
    AlertAnswer present(const AlertQuestion &question) override
    {
        const bool onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
        printLine({{"thread", onMain ? "main" : "other"}, {"title", question.title}, {"message", question.message},
                   {"buttons", QJsonArray::fromStringList(question.buttons)}});
        return AlertAnswer{m_answer, {}, false, 0};
    }

private:
    int m_answer;
};

[[gnu::noinline]] void throwOutOfRange()
{
    throw std::out_of_range("noexcept boom");
}

// An exception that reaches a noexcept function ends in std::terminate.
void callsThroughNoexcept() noexcept
{
    throwOutOfRange();
}

int run(int argc, char **argv, const QByteArray &mode)
{
    Application app(argc, argv);
    platform::Volume::configure(qEnvironmentVariable(kRoot), QStringLiteral("/Users/tester"));
    platform::UserDefaults::standard().reload();
    // Every end is the flushing _exit: nothing registered here may run.
    std::atexit([] { std::printf("ATEXIT\n"); });
    setAlertPresenter(std::make_shared<PrintingPresenter>(qEnvironmentVariableIntValue(kAnswer)));
    if (mode == "damaged")   // resources are found inside the bundle only
        printLine({{"resources", QJsonArray{resourcePath("inside.txt").isEmpty(),
                                            resourcePath("escape.txt").isEmpty()}}});
    static Kestrum shared;
    platform::Workspace::setUrlOpener([](const QUrl &url) {
        printLine({{"url", QString::fromLatin1(url.toEncoded())}});
        return true;
    });

    if (mode == "fatal") {
        alert_feedback_fatal(QStringLiteral("Helper failed"), QStringLiteral("The helper tool did not answer."));
        std::printf("RETURNED\n");
        return 0;
    }
    // The block wrapper of the background queue and the application
    // object's notify() catch these themselves; std::terminate is made to
    // end differently so that a test notices when they do not.
    if (mode == "pool" || mode == "loop") {
        std::set_terminate([] {
            std::printf("TERMINATE\n");
            std::fflush(stdout);
            ::_exit(7);
        });
    }
    if (mode == "pool")
        dispatch_async_back([] { throw std::runtime_error("pool boom"); });
    else if (mode == "loop")
        QTimer::singleShot(0, [] { throw std::logic_error("loop boom"); });
    else if (mode == "terminate")
        QTimer::singleShot(0, [] { std::terminate(); });
    else if (mode == "noexcept")
        QTimer::singleShot(0, [] { callsThroughNoexcept(); });
    else if (mode == "thread")
        std::thread([] { throw std::runtime_error("thread boom"); }).detach();
    else
        return 3;
    const int status = app.exec();
    std::printf("RETURNED %d\n", status);
    return 0;
}

} // namespace child

namespace {

struct ChildResult
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QList<QJsonObject> questions;   // thread, title, message, buttons
    QStringList urls;
    QString output;
};

ChildResult runChild(const QString &root, const QByteArray &mode, int answer)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(child::kMode), QString::fromLatin1(mode));
    env.insert(QString::fromLatin1(child::kRoot), root);
    env.insert(QString::fromLatin1(child::kAnswer), QString::number(answer));
    if (mode == "damaged")
        env.insert(QStringLiteral("DORVANE_BUNDLE_DIR"), root + "/Damaged.app");
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), {});
    ChildResult result;
    result.finished = process.waitForFinished(60000);
    if (!result.finished)
        process.kill();
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    for (const QString &line : result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        if (object.contains("url"))
            result.urls.append(object.value("url").toString());
        else if (object.contains("title"))
            result.questions.append(object);
    }
    return result;
}

// Fixed facts, so the whole report text can be written out here.
FeedbackFacts sampleFacts()
{
    return FeedbackFacts{.appName = "Dorvane", .appVersion = "1.2", .buildNumber = 42, .machineType = "MacBookPro18,3",
                         .systemVersion = "Version 14.1 (Build 23B74)", .userIsAdmin = true, .crashReportCount = 0,
                         .preferences = "YWJj", .logMessages = QStringList{"first", "second"}};
}

const char kAlertTail[] = "\n\n You can contact our support with detailed information so that we can fix this "
                          "problem.\n\nInformation: ";

} // namespace

class FeedbackTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VolumeFixture> m_volume;

private Q_SLOTS:
    void initTestCase()
    {
        m_volume = std::make_unique<VolumeFixture>();
        static Kestrum shared;
        QVERIFY(hx == &shared);
    }

    void mailText()
    {
        FeedbackFacts facts = sampleFacts();
        facts.crashReportCount = 3;
        const QString fatal = feedbackMailText("Disk full", "no space left", true, facts);
        QCOMPARE(fatal, QStringLiteral("mailto:feedback@dorvane.example?subject=Dorvane v1.2 (42) Problem Report&body="
                                       "Hello\nA fatal error in Dorvane occured (Disk full).\n\nBye\n\nP.S. Details: "
                                       "no space left\n\n\nP.P.S: Hardware: MacBookPro18,3 Software: Version 14.1 "
                                       "(Build 23B74) Admin: 1 Problems: 3\n\nPreferences: YWJj\n Messages: (\n    "
                                       "first,\n    second\n)\n"));
        // Without crash reports and system log, and not fatal, only those parts change.
        facts.crashReportCount = 0;
        facts.logMessages.reset();
        QString expected = fatal;
        expected.replace("A fatal error", "A  error").replace(" Problems: 3", "");
        expected.replace("(\n    first,\n    second\n)", "(null)");
        QCOMPARE(feedbackMailText("Disk full", "no space left", false, facts), expected);
    }

    void nonfatalAlertAndMail_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("mailed");
        QTest::newRow("Send to support") << 1000 << true;
        QTest::newRow("Continue") << 1001 << false;
    }

    void nonfatalAlertAndMail()
    {
        QFETCH(int, answer);
        QFETCH(bool, mailed);
        // A preference file goes along, base64-encoded.
        platform::UserDefaults::standard().setObject("FeedbackProbe", "on");

        const QString details = QString(400, QLatin1Char('d')) + QStringLiteral("&100% \u00fc");
        ScriptedPresenterScope presenter;
        presenter->enqueueButton(answer);
        UrlRecorder recorder;
        alert_feedback_nonfatal("Receipt unreadable", details);

        QCOMPARE(presenter->questions().size(), 1);
        const AlertQuestion question = presenter->questions().first();
        QCOMPARE(question.title, QStringLiteral("Error"));
        // The alert shows the first 400 characters of longer details.
        QCOMPARE(question.message, "Receipt unreadable" + QLatin1String(kAlertTail) + QString(400, 'd')
                                       + QString::fromUtf8("  \xE2\x80\xA6\n(Remaining message omitted)"));
        QCOMPARE(question.buttons, (QStringList{"Send to support", "Continue"}));
        QVERIFY(wasLogged(LogError, "message: alert_feedback Receipt unreadable " + details));

        QCOMPARE(recorder.urls().size(), mailed ? 1 : 0);
        if (!mailed)
            return;
        const QByteArray encoded = recorder.urls().first().toEncoded();
        // The mail carries all the details, not the shortened ones; blanks, "%"
        // and non-ASCII letters are encoded, "&" is left as it is.
        QVERIFY(encoded.contains("Details:%20" + QByteArray(400, 'd')
                                 + "&100%25%20%C3%BC%0A%0A%0AP.P.S:%20Hardware:%20"));
        const QByteArray prefs = fileContents(m_volume->physical(hx->prefsPath()));
        QVERIFY(!prefs.isEmpty());
        QVERIFY(encoded.contains("Preferences:%20" + prefs.toBase64().toPercentEncoding("!$&'()*+,/:;=?@")));
        // The whole text, with the facts of this machine read afterwards.
        const QString text = feedbackMailText("Receipt unreadable", details, false, currentFeedbackFacts());
        QCOMPARE(encoded, queryEscapedUrl(text).toEncoded());
        QVERIFY(encoded.contains(QByteArray("Admin:%20") + (platform::Host::isUserAdmin() ? "1" : "0")));
    }

    // Every way a fatal error reaches the user ends the same: one question on
    // the main thread (also from other threads), the mail when asked for, and
    // exit status 1.
    void fatalFeedbackEndsWithStatusOne_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("details");
        // An exception's reason twice, no system log, then the call stack.
        const auto boom = [](const char *mode) { return QStringLiteral(" %1 boom %1 boom (null) (\n    ").arg(mode); };
        QTest::newRow("fatal, Send") << QByteArray("fatal") << 1000 << "Helper failed"
                                     << "The helper tool did not answer.";
        QTest::newRow("thread-pool block") << QByteArray("pool") << 1001 << "std::runtime_error" << boom("pool");
        QTest::newRow("event loop") << QByteArray("loop") << 1000 << "std::logic_error" << boom("loop");
        QTest::newRow("noexcept boundary") << QByteArray("noexcept") << 1001 << "std::out_of_range" << boom("noexcept");
        QTest::newRow("plain thread") << QByteArray("thread") << 1001 << "std::runtime_error" << boom("thread");
        QTest::newRow("std::terminate") << QByteArray("terminate") << 1001 << "std::terminate"
                                        << " std::terminate was called without an active exception (null) (null) (\n";
    }

    void fatalFeedbackEndsWithStatusOne()
    {
        QFETCH(QByteArray, mode);
        QFETCH(int, answer);
        QFETCH(QString, message);
        QFETCH(QString, details);
        const ChildResult result = runChild(m_volume->root(), mode, answer);
        QVERIFY2(result.finished, qPrintable(result.output));
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(!result.output.contains("RETURNED"), qPrintable(result.output));
        QCOMPARE(result.questions.size(), 1);
        const QJsonObject question = result.questions.first();
        QCOMPARE(question.value("thread").toString(), QStringLiteral("main"));
        QCOMPARE(question.value("title").toString(), QStringLiteral("Fatal Error"));
        QCOMPARE(question.value("buttons").toArray(), QJsonArray({"Send to support", "Quit"}));
        const QString text = question.value("message").toString();
        QVERIFY2(text.startsWith(message + QLatin1String(kAlertTail) + details), qPrintable(text));
        // The call stack is a list of frames of this executable and its libraries.
        const QRegularExpression frames("\\(\n    \\S+\\(.*\\) ?\\[0x[0-9a-f]+\\],\n");
        QVERIFY2(mode == "fatal" || text.contains(frames), qPrintable(text));
        QCOMPARE(result.urls.size(), answer == 1000 ? 1 : 0);
        if (answer == 1000) {
            const QString mail = result.urls.first();
            QVERIFY2(mail.startsWith("mailto:feedback@dorvane.example?subject=Dorvane%20v"), qPrintable(mail));
            QVERIFY(mail.contains("body=Hello%0AA%20fatal%20error%20in%20Dorvane%20occured%20("
                                  + QString(message).replace(QLatin1Char(' '), "%20")));
        }
    }

    // A damaged bundle is told, and the process ends at once, with status 0.
    void damagedBundleEndsAtOnce()
    {
        const QString contents = "/Damaged.app/Contents";
        for (const QString &file : {contents + "/Frameworks/Bad.framework/Bad", contents + "/Resources/inside.txt"})
            QVERIFY(m_volume->writeFile(file) && m_volume->writeFile("/outside.txt"));
        QVERIFY(m_volume->writeFile(contents + "/Info.plist", "<plist version=\"1.0\"><dict><key>CFBundleName</key>"
                                                              "<string>Dorvane</string></dict></plist>"));
        QVERIFY(QFile::link(m_volume->root() + "/outside.txt", m_volume->physical(contents + "/Resources/escape.txt")));
        const ChildResult result = runChild(m_volume->root(), "damaged", 1000);
        QVERIFY(QDir(m_volume->physical("/Damaged.app")).removeRecursively());
        QVERIFY2(result.finished && result.exitStatus == QProcess::NormalExit && result.exitCode == 0,
                 qPrintable(result.output));
        QCOMPARE(result.questions.size(), 1);
        QVERIFY(result.questions.first().value("message").toString().startsWith("This application is damaged."));
        QVERIFY2(result.output.contains("{\"resources\":[false,true]}") && !result.output.contains("ATEXIT"),
                 qPrintable(result.output));
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray mode = qgetenv(child::kMode);
    if (!mode.isEmpty())
        return child::run(argc, argv, mode);
    QApplication app(argc, argv);
    FeedbackTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_feedback.moc"
