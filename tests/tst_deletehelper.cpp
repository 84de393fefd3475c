#include "dorvane/helper/DeleteHelper.h"
#include "dorvane/receipts/PackageRecord.h"
#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "kestrum/Feedback.h"
#include "kestrum/Log.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/ScriptedPresenter.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using helperwire::Message;
using platform::LogicalPath;
using namespace dorvane;

namespace {

const QString kInfo = QStringLiteral("A.pkg\nB.pkg");
const QString kDeleteFailed = QStringLiteral("Failed to delete files/folders.");
const QString kKillFailed = QStringLiteral("Failed to kill PIDs.");
const QString kInterrupted = QStringLiteral("XPC connection interrupted");
constexpr char kChildCalls[] = "TST_DELETEHELPER_CALLS";
constexpr char kChildRoot[] = "TST_DELETEHELPER_ROOT";

Message request(const QString &type, const QString &argument) { return {{"type", type}, {"request", argument}}; }
Message answer(const QString &reply) { return {{"reply", reply}}; }

PackageRecord package(const QString &identifier)
{
    return PackageRecord({{"PackageIdentifier", identifier}, {"PackageVersion", "1.0"}});
}

// The helper tool's side, scripted: every request is recorded and answered
// with the next message of the script. An empty message closes the stream
// instead of answering; an answer with the key "+close" goes out without it
// and the stream is closed after it.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(QList<Message> script) : m_script(std::move(script))
    {
        m_listener = platform::Volume::listenOnSocket(helperwire::socketPath());
        if (m_listener >= 0)
            m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedPeer()
    {
        m_stop = true;
        if (m_listener >= 0) {
            m_thread.join();
            ::close(m_listener);
        }
    }
    bool isListening() const { return m_listener >= 0; }
    QList<Message> requests() const { QMutexLocker lock(&m_mutex); return m_requests; }
    // Whether every request that came has been answered (or closed on).
    bool idle() const { QMutexLocker lock(&m_mutex); return m_handled == m_requests.size(); }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            helperwire::FrameChannel channel(::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
            Message received;
            while (!m_stop && channel.isOpen()) {
                const auto status = channel.receive(&received, 20);
                if (status != helperwire::FrameChannel::Status::Ok) {
                    if (status == helperwire::FrameChannel::Status::TimedOut)
                        continue;
                    break;
                }
                QMutexLocker lock(&m_mutex);
                m_requests.append(received);
                Message reply = m_script.isEmpty() ? Message() : m_script.takeFirst();
                lock.unlock();
                const bool close = reply.isEmpty() || reply.remove("+close") > 0;
                if (!reply.isEmpty())
                    channel.send(reply, 5000);
                if (close)
                    channel.close();
                lock.relock();
                ++m_handled;
            }
        }
    }

    mutable QMutex m_mutex;
    QList<Message> m_script;
    QList<Message> m_requests;
    qsizetype m_handled = 0;
    int m_listener = -1;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// The log lines of a level written after it: the ring's slots are emptied
// and a mark logged, so the lines after the mark, in slot order and wrapping
// round, are the new ones in the order they came.
void startLogCapture()
{
    for (int level : {kestrum::LogError, kestrum::LogInfo}) {
        for (int i = 0; i < 10; ++i)
            platform::UserDefaults::standard().removeObject(kestrum::logRingKey(level, i));
        kestrum::asl_NSLog(level, QStringLiteral("capture-mark"));
    }
}

QStringList capturedLines(int level)
{
    QStringList ring;
    for (int i = 0; i < 10; ++i)
        ring.append(platform::UserDefaults::standard().storedObject(kestrum::logRingKey(level, i)).toString());
    const QString separator = QStringLiteral(" message: ");
    qsizetype mark = -1;
    for (qsizetype i = 0; i < ring.size() && mark < 0; ++i)
        mark = ring[i].endsWith(separator + QStringLiteral("capture-mark")) ? i : -1;
    QStringList lines;
    for (qsizetype k = 1; mark >= 0 && k < 10 && !ring[(mark + k) % 10].isEmpty(); ++k) {
        const QString &entry = ring[(mark + k) % 10];
        lines.append(entry.mid(entry.indexOf(separator) + separator.size()));
    }
    return lines;
}

// Whether a report text is the expected one, where "{attrs:FACT}" stands for
// a rendered attributes dictionary that holds the line "FACT;".
bool matchesReport(const QString &actual, const QString &expected)
{
    static const QRegularExpression slot(QStringLiteral("\\{attrs:([^}]*)\\}"));
    QString pattern;
    qsizetype at = 0;
    for (const QRegularExpressionMatch &m : slot.globalMatch(expected)) {
        pattern += QRegularExpression::escape(expected.mid(at, m.capturedStart() - at))
                   + QStringLiteral("\\{\\n(?:    .*\\n)*    ") + QRegularExpression::escape(m.captured(1))
                   + QStringLiteral(";\\n(?:    .*\\n)*\\}");
        at = m.capturedEnd();
    }
    pattern += QRegularExpression::escape(expected.mid(at));
    return QRegularExpression(QStringLiteral("\\A") + pattern + QStringLiteral("\\z")).match(actual).hasMatch();
}

// Runs one call written as "operation|argument|argument..."; "drop" drops
// the connection.
void runCall(DeleteHelper &helper, const QString &call)
{
    QStringList arguments = call.split(QLatin1Char('|'));
    const QString operation = arguments.takeFirst();
    QList<LogicalPath> paths;
    QList<qint64> pids;
    for (const QString &argument : std::as_const(arguments)) {
        paths.append(LogicalPath::make(argument));
        pids.append(argument.toLongLong());
    }
    if (operation == QLatin1String("delete"))
        helper.deleteFiles(paths, kInfo);
    else if (operation == QLatin1String("folder"))
        helper.deleteFolder(paths.value(0), kInfo);
    else if (operation == QLatin1String("kill"))
        helper.killPIDs(pids, kInfo);
    else if (operation == QLatin1String("forget"))
        helper.deletePackage(package(arguments.value(0)));
    else if (operation == QLatin1String("drop"))
        helper.setConnection(nullptr);
}

// The child process of the rows whose report ends the process: it makes the
// calls against the parent's volume, whose peer answers, and prints each
// alert's title with the lines logged so far.
class PrintingPresenter : public kestrum::AlertPresenter
{
public:
    kestrum::AlertAnswer present(const kestrum::AlertQuestion &question) override
    {
        const QJsonObject line{{"title", question.title},
                               {"errors", QJsonArray::fromStringList(capturedLines(kestrum::LogError))},
                               {"info", QJsonArray::fromStringList(capturedLines(kestrum::LogInfo))}};
        std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        return kestrum::AlertAnswer{1001, {}, false, 0};   // never the mail
    }
};

int runChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    platform::Volume::configure(qEnvironmentVariable(kChildRoot), QStringLiteral("/Users/child"));
    platform::UserDefaults::standard().reload();
    kestrum::setAlertPresenter(std::make_shared<PrintingPresenter>());
    startLogCapture();
    const QStringList calls = qEnvironmentVariable(kChildCalls).split(QLatin1Char('\n'));
    DeleteHelper helper(calls.first() == QLatin1String("none") ? nullptr : std::make_shared<HelperConnection>());
    for (const QString &call : calls)
        runCall(helper, call);
    std::printf("RETURNED\n");
    return 0;
}

} // namespace

class DeleteHelperTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void requests_data();
    void requests();

private:
    std::unique_ptr<VolumeFixture> m_volume;
};

void DeleteHelperTest::initTestCase()
{
    m_volume = std::make_unique<VolumeFixture>();
    QVERIFY(m_volume->makeFolder("/private/var/run"));
    QVERIFY(m_volume->writeFile("/Library/A.file", "abc"));
    QVERIFY(m_volume->makeFolder("/Library/B"));
    QVERIFY(m_volume->writeFile("/private/var/db/receipts/com.example.pkg.bom", "bom"));
    QVERIFY(m_volume->writeFile("/private/var/db/receipts/com.example.pkg.plist", "plist"));
    const QString label = helperwire::helperLabel();
    QVERIFY(m_volume->writeFile("/Library/PrivilegedHelperTools/" + label, "tool"));
    const QVariantMap job{{"Label", label}, {"ProgramArguments", QStringList{"/Library/PrivilegedHelperTools/" + label}}};
    QVERIFY(m_volume->writeFile("/Library/LaunchDaemons/" + label + ".plist", platform::PropertyList::toData(job)));
}

// Each row makes its calls against a scripted tool (or none) and checks the
// messages sent, the info lines, and the reports shown (problem and details,
// in order). The "fatal" rows, whose last report ends the process, run in a
// child process.
void DeleteHelperTest::requests_data()
{
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QList<Message>>("script");
    QTest::addColumn<QList<Message>>("requests");
    QTest::addColumn<QStringList>("reports");   // problem, details, problem, details...
    QTest::addColumn<QStringList>("infoLines");

    const QString deleteLine = "Info: deleteFiles: " + kInfo;
    const Message deleteX = request("delete", R"(["/Library/x"])");
    const Message kill12 = request("kill", R"(["501","502"])");
    const QString killLine12 = "Info: killPIDs: (\n    501,\n    502\n)";
    const QString killLine1 = "Info: killPIDs: (\n    501\n)";
    const QStringList interrupted{kInterrupted, "XPC_ERROR_CONNECTION_INTERRUPTED"};

    QTest::newRow("delete, {}: paths cleaned, compact UTF-8")
        << QStringList{"delete|/Applications//Café b.app/|/Library/x"} << QList<Message>{answer("{}")}
        << QList<Message>{request("delete", R"(["/Applications/Café b.app","/Library/x"])")} << QStringList{}
        << QStringList{deleteLine};
    for (const char *reply : {"not json", "", R"(["/Library/x"])"})
        QTest::addRow("delete, no JSON object: \"%s\"", reply) << QStringList{"delete|/Library/x"}
            << QList<Message>{answer(reply)} << QList<Message>{deleteX} << QStringList{} << QStringList{deleteLine};
    QTest::newRow("delete, two undeletable: first key's attributes")
        << QStringList{"delete|/Library/B|/Library/A.file"}
        << QList<Message>{{{"reply", R"({"/Library/B":"busy","/Library/A.file":"locked"})"}, {"other", "ignored"}}}
        << QList<Message>{request("delete", R"(["/Library/B","/Library/A.file"])")}
        << QStringList{kDeleteFailed, " response: {\n    /Library/A.file = locked;\n    /Library/B = busy;\n}\n\n"
                                      " attributes of first undeletable file: {attrs:NSFileType = NSFileTypeRegular}"
                                      "\n\n event type: XPC_TYPE_DICTIONARY\n\n dorvane-info: " + kInfo}
        << QStringList{deleteLine};
    QTest::newRow("delete, undeletable path gone")
        << QStringList{"delete|/Library/gone"} << QList<Message>{answer(R"({"/Library/gone":"No such file"})")}
        << QList<Message>{request("delete", R"(["/Library/gone"])")}
        << QStringList{kDeleteFailed, " response: {\n    /Library/gone = No such file;\n}\n\n attributes of first "
                                      "undeletable file: (null)\n\n event type: XPC_TYPE_DICTIONARY\n\n dorvane-info: " + kInfo}
        << QStringList{deleteLine};
    QTest::newRow("folder: two lines, one-element array")
        << QStringList{"folder|/Library/Empty/"} << QList<Message>{answer("{}")}
        << QList<Message>{request("delete", R"(["/Library/Empty"])")} << QStringList{}
        << QStringList{"Info: deleteFolder: " + kInfo, deleteLine};
    QTest::newRow("delete, empty list") << QStringList{"delete"} << QList<Message>{answer("{}")}
                                        << QList<Message>{request("delete", "[]")} << QStringList{} << QStringList{deleteLine};

    QTest::newRow("kill, {}: pids as strings") << QStringList{"kill|501|502"} << QList<Message>{answer("{}")}
                                               << QList<Message>{kill12} << QStringList{} << QStringList{killLine12};
    for (const char *text : {"kill: errno 3 (No such process)", "errno 35"})
        QTest::addRow("kill, \"%s\" passes", text) << QStringList{"kill|501|502"}
            << QList<Message>{answer(QJsonDocument(QJsonObject{{"501", text}}).toJson(QJsonDocument::Compact))}
            << QList<Message>{kill12} << QStringList{} << QStringList{killLine12};
    QTest::newRow("kill, first value lacks errno 3")
        << QStringList{"kill|501|502"} << QList<Message>{answer(R"({"502":"errno 3","501":"errno 1: EPERM"})")}
        << QList<Message>{kill12}
        << QStringList{kKillFailed, "XPC_TYPE_DICTIONARY -  {\n    501 = errno 1: EPERM;\n    502 = errno 3;\n}  -  (\n"
                                    "    501,\n    502\n)  -  " + kInfo}
        << QStringList{killLine12};
    QTest::newRow("kill, no reply string") << QStringList{"kill|501"} << QList<Message>{{{"other", "{}"}}}
        << QList<Message>{request("kill", R"(["501"])")}
        << QStringList{kKillFailed, "got empty response! XPC_TYPE_DICTIONARY  -  (\n    501\n)  - " + kInfo}
        << QStringList{killLine1};
    QTest::newRow("forget, in a sentence") << QStringList{"forget|com.example.pkg"}
        << QList<Message>{answer("Done: Forgot package 'com.example.pkg' on '/'.")}
        << QList<Message>{request("forget", "com.example.pkg")} << QStringList{}
        << QStringList{"Info: deletePackage: com.example.pkg"};

    QTest::newRow("tool closes mid-request, next request reconnects")
        << QStringList{"kill|501", "kill|501|502"} << QList<Message>{{}, answer("{}")}
        << QList<Message>{request("kill", R"(["501"])"), kill12}
        << interrupted + QStringList{kKillFailed, "got empty response! XPC_TYPE_ERROR  -  (\n    501\n)  - " + kInfo}
        << QStringList{killLine1, killLine12};
    QTest::newRow("tool closes while idle: not reported, request goes out anew")
        << QStringList{"kill|501|502", "kill|501|502"}
        << QList<Message>{{{"reply", "{}"}, {"+close", ""}}, answer("{}")} << QList<Message>{kill12, kill12}
        << QStringList{} << QStringList{killLine12, killLine12};
    QTest::newRow("no connection: invalid in place of the reply")
        << QStringList{"drop", "kill|501"} << QList<Message>{} << QList<Message>{}
        << QStringList{kKillFailed, "got empty response! XPC_TYPE_ERROR:XPC_ERROR_CONNECTION_INVALID  -  (\n    501\n)"
                                    "  - " + kInfo}
        << QStringList{killLine1};

    const QString label = helperwire::helperLabel();
    const QString receipts = QDir(m_volume->physical("/private/var/db/receipts"))
                                 .entryList(QDir::Files | QDir::Hidden, QDir::Unsorted).join(", ");
    const QString forgotten = package("com.example.pkg").description() + " XPC_TYPE_DICTIONARY";
    const QString forgetLine = "Info: deletePackage: com.example.pkg";
    const Message forget = request("forget", "com.example.pkg");
    const QString job = "{\n    Label = " + label + ";\n    ProgramArguments = (\n        /Library/PrivilegedHelperTools/"
                        + label + "\n    );\n}";
    QTest::newRow("fatal: delete, no reply string") << QStringList{"delete|/Library/x"} << QList<Message>{{{"other", "{}"}}}
        << QList<Message>{deleteX} << QStringList{kDeleteFailed, "got empty response! XPC_TYPE_DICTIONARY " + kInfo}
        << QStringList{deleteLine};
    QTest::newRow("fatal: delete, tool closes, its report first") << QStringList{"delete|/Library/x"}
        << QList<Message>{{}} << QList<Message>{deleteX}
        << interrupted + QStringList{kDeleteFailed, "got empty response! XPC_TYPE_ERROR " + kInfo}
        << QStringList{deleteLine};
    QTest::newRow("fatal: forget, case differs") << QStringList{"forget|com.example.pkg"}
        << QList<Message>{answer("forgot package com.example.pkg")} << QList<Message>{forget}
        << QStringList{"Failed to forget package.", "forgot package com.example.pkg\n" + receipts + "\n" + forgotten}
        << QStringList{forgetLine};
    QTest::newRow("fatal: forget, no reply string") << QStringList{"forget|com.example.pkg"}
        << QList<Message>{{{"other", "Forgot package"}}} << QList<Message>{forget}
        << QStringList{"Failed to forget package.", "\n" + receipts + "\n" + forgotten}
        << QStringList{forgetLine};
    QTest::newRow("fatal: no service") << QStringList{"delete|/Library/x"} << QList<Message>{} << QList<Message>{}
        << QStringList{"XPC connection invalidated",
                       "XPC_ERROR_CONNECTION_INVALID: \n\n/Library/PrivilegedHelperTools/" + label
                           + ": {attrs:NSFileSize = 4}\n\n/Library/LaunchDaemons/" + label
                           + ".plist: {attrs:NSFileType = NSFileTypeRegular}\n\n" + job + "\n_\n" + job}
        << QStringList{deleteLine};
    QTest::newRow("fatal: no connection") << QStringList{"none"} << QList<Message>{} << QList<Message>{}
        << QStringList{"Failed to create XPC connection", ""} << QStringList{};
}

void DeleteHelperTest::requests()
{
    QFETCH(QStringList, calls);
    QFETCH(QList<Message>, script);
    QFETCH(QList<Message>, requests);
    QFETCH(QStringList, reports);
    QFETCH(QStringList, infoLines);
    const bool fatal = QByteArray(QTest::currentDataTag()).startsWith("fatal");

    // A row that sends nothing has no tool to talk to.
    QFile::remove(m_volume->physical(helperwire::socketPath().toString()));
    std::optional<ScriptedPeer> peer;
    if (!requests.isEmpty())
        QVERIFY(peer.emplace(script).isListening());
    QStringList titles, errors, info;
    if (fatal) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildCalls, calls.join('\n'));
        env.insert(kChildRoot, m_volume->root());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        const bool finished = child.waitForFinished(60000);
        const QString output = QString::fromUtf8(child.readAllStandardOutput());
        QVERIFY2(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 1, qPrintable(output));
        QJsonObject alert;
        for (const QString &line : output.split('\n', Qt::SkipEmptyParts)) {
            alert = QJsonDocument::fromJson(line.toUtf8()).object();
            titles.append(alert.value("title").toString());   // "RETURNED" counts as a wrong title
        }
        errors = alert.value("errors").toVariant().toStringList();
        info = alert.value("info").toVariant().toStringList();
    } else {
        ScriptedPresenterScope presenter;
        for (int i = 0; i < 4; ++i)
            presenter->enqueueButton(1001);
        startLogCapture();
        {
            DeleteHelper helper;
            for (const QString &call : std::as_const(calls)) {
                QTRY_VERIFY(!peer || peer->idle());
                runCall(helper, call);
            }
        }
        for (const kestrum::AlertQuestion &question : presenter->questions())
            titles.append(question.title);
        errors = capturedLines(kestrum::LogError);
        info = capturedLines(kestrum::LogInfo);
    }
    if (peer)
        QCOMPARE(peer->requests(), requests);
    QCOMPARE(info, infoLines);

    QStringList expectedTitles(reports.size() / 2, QStringLiteral("Error"));
    if (fatal)
        expectedTitles.last() = QStringLiteral("Fatal Error");
    QCOMPARE(titles, expectedTitles);
    // The interruption's own line comes before its report.
    QCOMPARE(errors.size(), titles.size() + reports.count(kInterrupted));
    for (qsizetype i = 0, line = 0; i < titles.size(); ++i) {
        if (reports[2 * i] == kInterrupted)
            QCOMPARE(errors[line++], QStringLiteral("XPC_ERROR_CONNECTION_INTERRUPTED"));
        const QString expected = "alert_feedback " + reports[2 * i] + " " + reports[2 * i + 1];
        QVERIFY2(matchesReport(errors[line], expected), qPrintable(errors[line]));
        ++line;
    }
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsSet(kChildCalls))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    DeleteHelperTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_deletehelper.moc"
