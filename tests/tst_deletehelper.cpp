#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/receipts/PackageRecord.h"
#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "helperwire/HelperReply.h"
#include "kestrum/Log.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/LogRing.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPresenter.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using helperwire::Message;
using platform::LogicalPath;
using namespace dorvane;

namespace {

const QString kInfo = QStringLiteral("A.pkg\nB.pkg");
const QString kDeleteFailed = QStringLiteral("Failed to delete files/folders.");
const QString kKillFailed = QStringLiteral("Failed to kill PIDs.");

const QStringList kPackages{"com.example.a", "com.example.b"};
Message request(const QString &type, const QString &argument)
{
    return {{"type", type}, {"request", argument}, {"packages", R"(["com.example.a","com.example.b"])"}};
}
Message answer(const QString &reply) { return {{"reply", reply}}; }
// A typed reply of the tool: each item with its outcome and reason.
Message outcomes(const QList<helperwire::ItemOutcome> &items, const QString &text = {})
{
    return answer(helperwire::encodeReply({items, text}));
}
const QString kNoFailure = R"({"failures":[],"outcomes":""})";
using Kind = helperwire::ItemOutcome::Kind;
QString report(const QString &problem, const QString &details) { return "alert_feedback " + problem + " " + details; }
PackageRecord package(const QString &identifier) { return PackageRecord({{"PackageIdentifier", identifier}, {"PackageVersion", "1.0"}}); }

// Whether a log line is the expected one, where "{attrs:FACT}" stands for a
// rendered attributes dictionary that holds the line "FACT;".
bool matchesReport(const QString &actual, const QString &expected)
{
    static const QRegularExpression slot(QStringLiteral("\\{attrs:([^}]*)\\}"));
    QString pattern;
    qsizetype at = 0;
    for (const QRegularExpressionMatch &m : slot.globalMatch(expected)) {
        pattern += QRegularExpression::escape(expected.mid(at, m.capturedStart() - at)) + "\\{\\n(?:    .*\\n)*    "
                   + QRegularExpression::escape(m.captured(1)) + ";\\n(?:    .*\\n)*\\}";
        at = m.capturedEnd();
    }
    pattern += QRegularExpression::escape(expected.mid(at));
    return QRegularExpression("\\A" + pattern + "\\z").match(actual).hasMatch();
}

// Makes the calls, each written as "operation|argument|argument...", every
// report answered "Continue" (never the mail), after marking the log. "drop"
// drops the connection; a first call "none" gives the helper none. Between
// calls the peer, when it runs here, has finished the last request.
void runCalls(const QStringList &calls, const ScriptedPeer *peer)
{
    ScriptedPresenterScope presenter;
    for (int i = 0; i < 4; ++i)
        presenter->enqueueButton(1001);
    markLog();
    DeleteHelper helper(calls.value(0) == "none" ? nullptr : std::make_shared<HelperConnection>());
    for (const QString &call : calls) {
        QTRY_VERIFY(!peer || peer->idle());
        QStringList arguments = call.split('|');
        const QString operation = arguments.takeFirst();
        QList<LogicalPath> paths;
        QList<qint64> pids;
        for (const QString &argument : std::as_const(arguments)) {
            paths.append(platform::volumePath(argument).value());
            pids.append(argument.toLongLong());
        }
        if (operation == "delete")
            helper.deleteFiles(paths, kPackages, kInfo);
        else if (operation == "folder")
            helper.deleteFolder(paths.value(0), kPackages, kInfo);
        else if (operation == "kill")
            helper.killPIDs(pids, kPackages, kInfo);
        else if (operation == "forget")
            helper.deletePackage(package(arguments.value(0)), kPackages);
        else if (operation == "drop")
            helper.setConnection(nullptr);
    }
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
// messages sent and the info and error lines logged, reports included. The
// "fatal" rows, whose last report ends the process, run in a child process.
void DeleteHelperTest::requests_data()
{
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QList<Message>>("script");
    QTest::addColumn<QList<Message>>("requests");
    QTest::addColumn<QStringList>("errorLines");
    QTest::addColumn<QStringList>("infoLines");

    const auto row = [](const QByteArray &name, const QStringList &calls, const QList<Message> &script,
                        const QList<Message> &requests, const QStringList &errorLines, const QStringList &infoLines) {
        QTest::newRow(name.constData()) << calls << script << requests << errorLines << infoLines;
    };
    const QString deleteLine = "Info: deleteFiles: " + kInfo;
    const Message deleteX = request("delete", R"(["/Library/x"])");
    const Message kill1 = request("kill", R"(["501"])");
    const Message kill12 = request("kill", R"(["501","502"])");
    const QString killLine12 = "Info: killPIDs: (\n    501,\n    502\n)";
    const QString killLine1 = "Info: killPIDs: (\n    501\n)";
    // The connection's own line and report come before the request's.
    const QStringList interrupted{"XPC_ERROR_CONNECTION_INTERRUPTED",
                                  report("XPC connection interrupted", "XPC_ERROR_CONNECTION_INTERRUPTED")};

    row("delete, all went: paths cleaned, compact UTF-8", {"delete|/Applications//Café b.app/|/Library/x"},
        {outcomes({{"/Applications/Café b.app", Kind::Removed, "", 0}, {"/Library/x", Kind::Gone, "", 0}})},
        {request("delete", R"(["/Applications/Café b.app","/Library/x"])")}, {}, {deleteLine});
    // The first item that did not go is the one whose attributes are shown.
    row("delete, refused and failed: the first one's attributes", {"delete|/Library/B|/Library/A.file|/Library/x"},
        {{{"reply", helperwire::encodeReply({{{"/Library/B", Kind::Refused, "no package lists it", 0},
                                              {"/Library/A.file", Kind::Failed, "locked", 1}, {"/Library/x", Kind::Removed, "", 0}},
                                             {}})},
          {"other", "ignored"}}},
        {request("delete", R"(["/Library/B","/Library/A.file","/Library/x"])")},
        {report(kDeleteFailed, " response: {\n    /Library/A.file = locked;\n    /Library/B = no package lists it;\n}\n\n "
                               "attributes of first undeletable file: {attrs:NSFileType = NSFileTypeDirectory}\n\n event type: "
                               "XPC_TYPE_DICTIONARY\n\n dorvane-info: " + kInfo)},
        {deleteLine});
    row("delete, undeletable path gone", {"delete|/Library/gone"}, {outcomes({{"/Library/gone", Kind::Failed, "No such file", 2}})},
        {request("delete", R"(["/Library/gone"])")},
        {report(kDeleteFailed, " response: {\n    /Library/gone = No such file;\n}\n\n attributes of first undeletable file: "
                               "(null)\n\n event type: XPC_TYPE_DICTIONARY\n\n dorvane-info: " + kInfo)},
        {deleteLine});
    row("folder: its own request, one-element array", {"folder|/Library/Empty/"}, {answer(kNoFailure)},
        {request("deleteEmptyFolder", R"(["/Library/Empty"])")}, {}, {"Info: deleteFolder: " + kInfo});

    row("kill, all went: pids as strings", {"kill|501|502"}, {answer(kNoFailure)}, {kill12}, {}, {killLine12});
    row("kill, an ended process is gone, no failure", {"kill|501|502"},
        {outcomes({{"501", Kind::Gone, "", 0}, {"502", Kind::Removed, "", 0}})}, {kill12}, {}, {killLine12});
    row("kill, refused", {"kill|501|502"},
        {outcomes({{"502", Kind::Gone, "", 0}, {"501", Kind::Refused, "it runs nothing on the volume", 0}})}, {kill12},
        {report(kKillFailed, "XPC_TYPE_DICTIONARY -  {\n    501 = it runs nothing on the volume;\n}  -  (\n    501,\n"
                             "    502\n)  -  " + kInfo)},
        {killLine12});
    row("kill, no reply string", {"kill|501"}, {{{"other", "{}"}}}, {kill1},
        {report(kKillFailed, "got empty response! XPC_TYPE_DICTIONARY  -  (\n    501\n)  - " + kInfo)}, {killLine1});
    row("forget, both files went", {"forget|com.example.pkg"},
        {outcomes({{"/private/var/db/receipts/com.example.pkg.plist", Kind::Removed, "", 0},
                   {"/private/var/db/receipts/com.example.pkg.bom", Kind::Removed, "", 0}},
                  helperwire::forgotText("com.example.pkg"))},
        {request("forget", "com.example.pkg")}, {}, {"Info: deletePackage: com.example.pkg"});

    row("tool closes mid-request, next request reconnects", {"kill|501", "kill|501|502"}, {{}, answer(kNoFailure)}, {kill1, kill12},
        interrupted + QStringList{report(kKillFailed, "got empty response! XPC_TYPE_ERROR  -  (\n    501\n)  - " + kInfo)},
        {killLine1, killLine12});
    row("delete, tool closes: its report first, next request reconnects", {"delete|/Library/x", "delete|/Library/x"},
        {{}, answer(kNoFailure)}, {deleteX, deleteX},
        interrupted + QStringList{report(kDeleteFailed, "got empty response! XPC_TYPE_ERROR " + kInfo)}, {deleteLine, deleteLine});
    row("tool closes while idle: not reported, request goes out anew", {"kill|501|502", "kill|501|502"},
        {{{"reply", kNoFailure}, {"+close", ""}}, answer(kNoFailure)}, {kill12, kill12}, {}, {killLine12, killLine12});
    row("no connection: invalid in place of the reply", {"drop", "kill|501"}, {}, {},
        {report(kKillFailed, "got empty response! XPC_TYPE_ERROR:XPC_ERROR_CONNECTION_INVALID  -  (\n    501\n)  - " + kInfo)},
        {killLine1});

    const QString label = helperwire::helperLabel();
    const QString receipts = QDir(m_volume->physical("/private/var/db/receipts"))
                                 .entryList(QDir::Files | QDir::Hidden, QDir::Unsorted).join(", ");
    const QString forgotten = package("com.example.pkg").description() + " XPC_TYPE_DICTIONARY";
    const QString forgetLine = "Info: deletePackage: com.example.pkg";
    const Message forget = request("forget", "com.example.pkg");
    const QString job = "{\n    Label = " + label + ";\n    ProgramArguments = (\n        /Library/PrivilegedHelperTools/"
                        + label + "\n    );\n}";
    row("fatal: delete, no reply string", {"delete|/Library/x"}, {{{"other", "{}"}}}, {deleteX},
        {report(kDeleteFailed, "got empty response! XPC_TYPE_DICTIONARY " + kInfo)}, {deleteLine});
    row("fatal: delete, a reply that is no typed reply", {"delete|/Library/x"}, {answer("{}")}, {deleteX},
        {report(kDeleteFailed, "got empty response! XPC_TYPE_DICTIONARY " + kInfo)}, {deleteLine});
    row("fatal: forget, no receipt holds it", {"forget|com.example.pkg"},
        {outcomes({{"com.example.pkg", Kind::Failed, "no receipt on the volume holds this identifier", 2}})}, {forget},
        {report("Failed to forget package.", "{\n    com.example.pkg = no receipt on the volume holds this identifier;\n}\n"
                                             + receipts + "\n" + forgotten)},
        {forgetLine});
    row("fatal: forget, a sentence alone", {"forget|com.example.pkg"}, {answer("Forgot package 'com.example.pkg' on '/'.")},
        {forget}, {report("Failed to forget package.", "Forgot package 'com.example.pkg' on '/'.\n" + receipts + "\n" + forgotten)},
        {forgetLine});
    row("fatal: forget, no reply string", {"forget|com.example.pkg"}, {{{"other", "Forgot package"}}}, {forget},
        {report("Failed to forget package.", "\n" + receipts + "\n" + forgotten)}, {forgetLine});
    row("fatal: no service", {"delete|/Library/x"}, {}, {},
        {report("XPC connection invalidated", "XPC_ERROR_CONNECTION_INVALID: \n\n/Library/PrivilegedHelperTools/" + label
                                                  + ": {attrs:NSFileSize = 4}\n\n/Library/LaunchDaemons/" + label
                                                  + ".plist: {attrs:NSFileType = NSFileTypeRegular}\n\n" + job + "\n_\n" + job)},
        {deleteLine});
    row("fatal: no connection", {"none"}, {}, {}, {report("Failed to create XPC connection", "")}, {});
}

void DeleteHelperTest::requests()
{
    QFETCH(QStringList, calls);
    QFETCH(QList<Message>, script);
    QFETCH(QList<Message>, requests);
    QFETCH(QStringList, errorLines);
    QFETCH(QStringList, infoLines);
    // A row that sends nothing has no tool to talk to.
    QFile::remove(m_volume->physical(helperwire::socketPath().toString()));
    std::optional<ScriptedPeer> peer;
    if (!requests.isEmpty())
        QVERIFY(peer.emplace(script).isListening());
    if (QByteArray(QTest::currentDataTag()).startsWith("fatal")) {
        // The last report ends the process: a child makes the calls, and its
        // lines are read back from the volume's user defaults.
        const pid_t child = ::fork();
        if (child == 0) {
            runCalls(calls, nullptr);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        platform::UserDefaults::standard().reload();
    } else {
        runCalls(calls, peer ? &*peer : nullptr);
    }
    if (peer)
        QCOMPARE(peer->requests(), requests);
    QCOMPARE(linesSinceMark(kestrum::LogInfo), infoLines);
    const QStringList errors = linesSinceMark(kestrum::LogError);
    QCOMPARE(errors.size(), errorLines.size());
    for (qsizetype i = 0; i < errors.size(); ++i)
        QVERIFY2(matchesReport(errors[i], errorLines[i]), qPrintable(errors[i]));
}

QTEST_MAIN(DeleteHelperTest)
#include "tst_deletehelper.moc"
