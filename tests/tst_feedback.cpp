#include "kestrum/Dispatch.h"
#include "kestrum/ExceptionHandler.h"
#include "kestrum/Feedback.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "kestrum/widgets/Application.h"
#include "platform/Host.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
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

// Prints every question as "QUESTION <thread> <title> <message> <buttons>"
// (base64 fields, buttons joined by newlines) and answers the button the
// parent asked for.
class PrintingPresenter : public AlertPresenter
{
public:
    explicit PrintingPresenter(int answer) : m_answer(answer) {}
    AlertAnswer present(const AlertQuestion &question) override
    {
        const bool onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
        std::printf("QUESTION %s %s %s %s\n", onMain ? "main" : "other", question.title.toUtf8().toBase64().constData(),
                    question.message.toUtf8().toBase64().constData(),
                    question.buttons.join(QLatin1Char('\n')).toUtf8().toBase64().constData());
        std::fflush(stdout);
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
    static Kestrum shared;
    setAlertPresenter(std::make_shared<PrintingPresenter>(qEnvironmentVariableIntValue(kAnswer)));
    platform::Workspace::setUrlOpener([](const QUrl &url) {
        std::printf("URL %s\n", url.toEncoded().constData());
        std::fflush(stdout);
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
    QList<AlertQuestion> questions;
    QStringList questionThreads;
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
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.value(0) == QLatin1String("QUESTION") && fields.size() == 5) {
            AlertQuestion question;
            question.title = QString::fromUtf8(QByteArray::fromBase64(fields[2].toLatin1()));
            question.message = QString::fromUtf8(QByteArray::fromBase64(fields[3].toLatin1()));
            question.buttons = QString::fromUtf8(QByteArray::fromBase64(fields[4].toLatin1())).split(QLatin1Char('\n'));
            result.questions.append(question);
            result.questionThreads.append(fields[1]);
        } else if (fields.value(0) == QLatin1String("URL")) {
            result.urls.append(fields.value(1));
        }
    }
    return result;
}

// Fixed facts, so the whole report text can be written out here.
FeedbackFacts sampleFacts()
{
    FeedbackFacts facts;
    facts.appName = QStringLiteral("Dorvane");
    facts.appVersion = QStringLiteral("1.2");
    facts.buildNumber = 42;
    facts.machineType = QStringLiteral("MacBookPro18,3");
    facts.systemVersion = QStringLiteral("Version 14.1 (Build 23B74)");
    facts.userIsAdmin = true;
    facts.crashReportCount = 0;
    facts.preferences = QStringLiteral("YWJj");
    facts.logMessages = QStringList{QStringLiteral("first"), QStringLiteral("second")};
    return facts;
}

// Records which thread each question was asked on.
class ThreadRecordingPresenter : public AlertPresenter
{
public:
    AlertAnswer present(const AlertQuestion &question) override
    {
        threads.append(QThread::currentThread());
        questions.append(question);
        return AlertAnswer{answer, {}, false, 0};
    }
    int answer = 1000;
    QList<QThread *> threads;
    QList<AlertQuestion> questions;
};

const char kAlertTail[] = "\n\n You can contact our support with detailed information so that we can fix this "
                          "problem.\n\nInformation: ";

} // namespace

class FeedbackTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void shownDetails_data();
    void shownDetails();
    void mailText_data();
    void mailText();
    void nonfatalAlertAndMail_data();
    void nonfatalAlertAndMail();
    void backgroundCallerWaitsForMainThread();
    void exceptionDescription();
    void fatalEndsWithStatusOne_data();
    void fatalEndsWithStatusOne();
    void uncaughtExceptionsEndInFatalFeedback_data();
    void uncaughtExceptionsEndInFatalFeedback();

private:
    std::unique_ptr<VolumeFixture> m_volume;
};

void FeedbackTest::initTestCase()
{
    m_volume = std::make_unique<VolumeFixture>();
    static Kestrum shared;
    QVERIFY(hx == &shared);
}

void FeedbackTest::shownDetails_data()
{
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("shown");
    const QString x400(400, QLatin1Char('x'));
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("399") << QString(399, QLatin1Char('x')) << QString(399, QLatin1Char('x'));
    QTest::newRow("400 whole") << x400 << x400;
    QTest::newRow("401 cut") << x400 + QLatin1Char('y') << x400 + QString::fromUtf8("  \xE2\x80\xA6\n(Remaining message omitted)");
    QTest::newRow("long cut") << x400 + QString(600, QLatin1Char('z'))
                              << x400 + QString::fromUtf8("  \xE2\x80\xA6\n(Remaining message omitted)");
}

void FeedbackTest::shownDetails()
{
    QFETCH(QString, details);
    QFETCH(QString, shown);
    QCOMPARE(feedbackShownDetails(details), shown);
}

void FeedbackTest::mailText_data()
{
    QTest::addColumn<bool>("fatal");
    QTest::addColumn<qsizetype>("crashReports");
    QTest::addColumn<bool>("noLog");
    QTest::addColumn<QString>("expected");

    const QString head = QStringLiteral("mailto:feedback@dorvane.example?subject=Dorvane v1.2 (42) Problem Report&body=");
    QTest::newRow("nonfatal") << false << qsizetype(0) << false
                              << head + QStringLiteral(
                                     "Hello\nA  error in Dorvane occured (Disk full).\n\nBye\n\nP.S. Details: "
                                     "no space left\n\n\nP.P.S: Hardware: MacBookPro18,3 Software: Version 14.1 "
                                     "(Build 23B74) Admin: 1\n\nPreferences: YWJj\n Messages: (\n    first,\n    "
                                     "second\n)\n");
    QTest::newRow("fatal with problems") << true << qsizetype(3) << false
                                         << head + QStringLiteral(
                                                "Hello\nA fatal error in Dorvane occured (Disk full).\n\nBye\n\nP.S. "
                                                "Details: no space left\n\n\nP.P.S: Hardware: MacBookPro18,3 Software: "
                                                "Version 14.1 (Build 23B74) Admin: 1 Problems: 3\n\nPreferences: YWJj\n "
                                                "Messages: (\n    first,\n    second\n)\n");
    QTest::newRow("no system log") << false << qsizetype(1) << true
                                   << head + QStringLiteral(
                                          "Hello\nA  error in Dorvane occured (Disk full).\n\nBye\n\nP.S. Details: no "
                                          "space left\n\n\nP.P.S: Hardware: MacBookPro18,3 Software: Version 14.1 "
                                          "(Build 23B74) Admin: 1 Problems: 1\n\nPreferences: YWJj\n Messages: (null)\n");
}

void FeedbackTest::mailText()
{
    QFETCH(bool, fatal);
    QFETCH(qsizetype, crashReports);
    QFETCH(bool, noLog);
    QFETCH(QString, expected);
    FeedbackFacts facts = sampleFacts();
    facts.crashReportCount = crashReports;
    if (noLog)
        facts.logMessages.reset();
    QCOMPARE(feedbackMailText(QStringLiteral("Disk full"), QStringLiteral("no space left"), fatal, facts), expected);
}

void FeedbackTest::nonfatalAlertAndMail_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("mailed");
    QTest::newRow("Send to support") << 1000 << true;
    QTest::newRow("Continue") << 1001 << false;
}

void FeedbackTest::nonfatalAlertAndMail()
{
    QFETCH(int, answer);
    QFETCH(bool, mailed);
    // A preference file goes along, base64-encoded.
    platform::UserDefaults::standard().setObject(QStringLiteral("FeedbackProbe"), QStringLiteral("on"));

    const QString details = QString(400, QLatin1Char('d')) + QStringLiteral("&100% ü");
    ScriptedPresenterScope presenter;
    presenter->enqueueButton(answer);
    UrlRecorder recorder;
    alert_feedback_nonfatal(QStringLiteral("Receipt unreadable"), details);

    QCOMPARE(presenter->questions().size(), 1);
    const AlertQuestion question = presenter->questions().first();
    QCOMPARE(question.title, QStringLiteral("Error"));
    QCOMPARE(question.message, QStringLiteral("Receipt unreadable") + QLatin1String(kAlertTail)
                                   + QString(400, QLatin1Char('d'))
                                   + QString::fromUtf8("  \xE2\x80\xA6\n(Remaining message omitted)"));
    QCOMPARE(question.buttons, (QStringList{QStringLiteral("Send to support"), QStringLiteral("Continue")}));

    // The message and the full details were logged as an error.
    bool logged = false;
    for (int slot = 0; slot < 10; ++slot) {
        const QString entry = platform::UserDefaults::standard().storedObject(logRingKey(3, slot)).toString();
        logged = logged || entry.endsWith(QStringLiteral("message: alert_feedback Receipt unreadable ") + details);
    }
    QVERIFY(logged);

    if (!mailed) {
        QVERIFY(recorder.urls().isEmpty());
        return;
    }
    QCOMPARE(recorder.urls().size(), 1);
    const QByteArray encoded = recorder.urls().first().toEncoded();
    // The mail carries all the details, not the shortened ones; line breaks,
    // blanks, "%" and non-ASCII letters are encoded, "&" is left as it is.
    QVERIFY(encoded.startsWith("mailto:feedback@dorvane.example?subject=Dorvane%20v"));
    QVERIFY(encoded.contains("%20Problem%20Report&body=Hello%0AA%20%20error%20in%20Dorvane%20occured%20(Receipt%20unreadable)."));
    QVERIFY(encoded.contains("Details:%20" + QByteArray(400, 'd') + "&100%25%20%C3%BC%0A%0A%0AP.P.S:%20Hardware:%20"));
    QVERIFY(!encoded.contains("omitted"));
    QFile prefsFile(m_volume->physical(hx->prefsPath()));
    QVERIFY(prefsFile.open(QIODevice::ReadOnly));
    const QByteArray base64 = prefsFile.readAll().toBase64();
    QVERIFY(!base64.isEmpty());
    QVERIFY(encoded.contains("%0A%0APreferences:%20" + base64.toPercentEncoding("!$&'()*+,/:;=?@") + "%0A%20Messages:%20"));
    // The whole text, with the facts of this machine read afterwards.
    QCOMPARE(QString::fromLatin1(encoded),
             QString::fromLatin1(queryEscapedUrl(feedbackMailText(QStringLiteral("Receipt unreadable"), details, false,
                                                                  currentFeedbackFacts()))
                                     .toEncoded()));
    QVERIFY(encoded.contains(QByteArray("Admin:%20") + (platform::Host::isUserAdmin() ? "1" : "0")));
}

void FeedbackTest::backgroundCallerWaitsForMainThread()
{
    auto presenter = std::make_shared<ThreadRecordingPresenter>();
    presenter->answer = 1001;
    auto previous = setAlertPresenter(presenter);
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        alert_feedback_nonfatal(QStringLiteral("From a worker"), QStringLiteral("details"));
        returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    setAlertPresenter(previous);
    QCOMPARE(presenter->threads.size(), 1);
    QCOMPARE(presenter->threads.first(), QCoreApplication::instance()->thread());
    QCOMPARE(presenter->questions.first().title, QStringLiteral("Error"));
}

namespace sample {
struct DiskError
{
};
} // namespace sample

void FeedbackTest::exceptionDescription()
{
    const QStringList stack{QStringLiteral("frame one"), QStringLiteral("frame two")};
    const auto runtime = std::make_exception_ptr(std::runtime_error("boom"));
    QCOMPARE(exceptionName(runtime), QStringLiteral("std::runtime_error"));
    QCOMPARE(exceptionDetails(runtime, stack), QStringLiteral(" boom boom (null) (\n    frame one,\n    frame two\n)"));

    const auto number = std::make_exception_ptr(42);
    QCOMPARE(exceptionName(number), QStringLiteral("int"));
    QCOMPARE(exceptionDetails(number, {}), QStringLiteral(" int (null) (null) (\n)"));

    QCOMPARE(exceptionName(std::make_exception_ptr(sample::DiskError())), QStringLiteral("sample::DiskError"));

    // The stack names this very function among its frames' callers.
    const QStringList own = callStackSymbols();
    QVERIFY(own.size() > 3);
    QVERIFY(own.first().contains(QStringLiteral("tst_feedback")));
}

void FeedbackTest::fatalEndsWithStatusOne_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("mailed");
    QTest::newRow("Quit") << 1001 << false;
    QTest::newRow("Send to support") << 1000 << true;
}

void FeedbackTest::fatalEndsWithStatusOne()
{
    QFETCH(int, answer);
    QFETCH(bool, mailed);
    const ChildResult result = runChild(m_volume->root(), "fatal", answer);
    QVERIFY2(result.finished, qPrintable(result.output));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!result.output.contains(QStringLiteral("RETURNED")));
    QCOMPARE(result.questions.size(), 1);
    QCOMPARE(result.questions.first().title, QStringLiteral("Fatal Error"));
    QCOMPARE(result.questions.first().message,
             QStringLiteral("Helper failed") + QLatin1String(kAlertTail) + QStringLiteral("The helper tool did not answer."));
    QCOMPARE(result.questions.first().buttons, (QStringList{QStringLiteral("Send to support"), QStringLiteral("Quit")}));
    QCOMPARE(result.urls.size(), mailed ? 1 : 0);
    if (mailed) {
        QVERIFY(result.urls.first().startsWith(QStringLiteral("mailto:feedback@dorvane.example?subject=Dorvane%20v")));
        QVERIFY(result.urls.first().contains(QStringLiteral("body=Hello%0AA%20fatal%20error%20in%20Dorvane%20occured%20(Helper%20failed).")));
    }
}

void FeedbackTest::uncaughtExceptionsEndInFatalFeedback_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("thread");
    QTest::newRow("thread-pool block") << QByteArray("pool") << "std::runtime_error" << "pool boom" << "main";
    QTest::newRow("event loop") << QByteArray("loop") << "std::logic_error" << "loop boom" << "main";
    QTest::newRow("noexcept boundary") << QByteArray("noexcept") << "std::out_of_range" << "noexcept boom" << "main";
    QTest::newRow("plain thread") << QByteArray("thread") << "std::runtime_error" << "thread boom" << "main";
    QTest::newRow("std::terminate") << QByteArray("terminate") << "std::terminate" << QString() << "main";
}

void FeedbackTest::uncaughtExceptionsEndInFatalFeedback()
{
    QFETCH(QByteArray, mode);
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QFETCH(QString, thread);
    const ChildResult result = runChild(m_volume->root(), mode, 1001);
    QVERIFY2(result.finished, qPrintable(result.output));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(!result.output.contains(QStringLiteral("RETURNED")), qPrintable(result.output));
    QCOMPARE(result.questions.size(), 1);
    QCOMPARE(result.questionThreads.first(), thread);
    const AlertQuestion question = result.questions.first();
    QCOMPARE(question.title, QStringLiteral("Fatal Error"));
    QVERIFY2(question.message.startsWith(name + QLatin1String(kAlertTail) + QLatin1Char(' ')), qPrintable(question.message));
    const QString details = question.message.mid(name.size() + int(qstrlen(kAlertTail)));
    if (reason.isEmpty()) {
        QVERIFY2(details.startsWith(QStringLiteral(" std::terminate was called without an active exception (null) (null) (\n")),
                 qPrintable(details));
    } else {
        QVERIFY2(details.startsWith(QStringLiteral(" %1 %1 (null) (\n    ").arg(reason)), qPrintable(details));
    }
    // The call stack is a list of frames of this executable and its libraries.
    QVERIFY2(details.contains(QRegularExpression(QStringLiteral("\\(\n    \\S+\\(.*\\) ?\\[0x[0-9a-f]+\\],\n"))),
             qPrintable(details));
}

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
