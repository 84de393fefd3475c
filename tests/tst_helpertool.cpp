// The helper tool as the application meets it: the real executable on a
// volume in a temporary folder, spoken to over its socket.

#include "support/VolumeFixture.h"

#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "helperwire/HelperRequest.h"
#include "platform/ExecutableInfo.h"
#include "platform/Volume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <grp.h>
#include <memory>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace helperwire;
using platform::Follow;
using platform::Volume;

namespace {

constexpr uid_t ServedUid = 60001;

QByteArray u32(quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); }
QByteArray str(const QByteArray &bytes) { return u32(bytes.size()) + bytes; }
QString json(const QStringList &items) { return QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact); }
Message request(const QString &type, const QString &argument) { return {{"type", type}, {"request", argument}}; }
bool present(const QString &physical) { const QFileInfo info(physical); return info.exists() || info.isSymLink(); }

} // namespace

class TestHelperTool : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void embeddedVersion_data();
    void embeddedVersion();
    void badArguments_data();
    void badArguments();
    void servesOnlyRootAndItsUser_data();
    void servesOnlyRootAndItsUser();
    void answers_data();
    void answers();
    void neverRemovesThroughALinkSwappedIn_data();
    void neverRemovesThroughALinkSwappedIn();
    void badClientsLoseOnlyTheirConnection_data();
    void badClientsLoseOnlyTheirConnection();

private:
    QString phys(const QString &logical) const { return m_volume->physical(logical); }
    QString log() const { return QString::fromUtf8(fileContents(m_outside->filePath("tool.log"))); }
    // The replies to the messages, sent on one new connection; fewer when
    // the tool closed it.
    QStringList askAll(const QList<Message> &messages);
    QString ask(const Message &message) { return askAll({message}).value(0, QStringLiteral("<no reply>")); }

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<QTemporaryDir> m_outside;   // outside the volume: the tool's log, link targets
    QProcess m_tool;
    QStringList m_immutable;
};

// Every test but the reader's and the arguments' runs the tool on a new volume.
void TestHelperTool::init()
{
    const QByteArray test = QTest::currentTestFunction();
    if (test == "embeddedVersion" || test == "badArguments")
        return;
    if (::geteuid() != 0)
        QSKIP("the helper tool removes, kills and checks peers as root");
    m_volume = std::make_unique<VolumeFixture>();
    m_outside = std::make_unique<QTemporaryDir>();
    QVERIFY(m_volume->isValid() && m_outside->isValid());
    // Other users may pass through to the socket, as on a real disk.
    QVERIFY(QFile::setPermissions(m_volume->root(), QFile::Permissions(0x7755)));
    m_tool.setStandardErrorFile(m_outside->filePath("tool.log"));
    m_tool.start(DORVANE_HELPER_TOOL, {"--root", m_volume->root(), "--serve-uid", QString::number(ServedUid),
                                       "--read-timeout-ms", "500"});
    QVERIFY(m_tool.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(Volume::current()->readFile(pidFilePath(), 64).value_or(""),
                              QByteArray::number(m_tool.processId()) + "\n", 10000);
}

void TestHelperTool::cleanup()
{
    if (!m_volume)
        return;
    const bool serving = m_tool.state() == QProcess::Running;
    m_tool.terminate();
    const bool stopped = m_tool.waitForFinished(60000);
    if (!stopped) {
        m_tool.kill();
        m_tool.waitForFinished();
    }
    const bool clean = stopped && m_tool.exitStatus() == QProcess::NormalExit && m_tool.exitCode() == 0
                       && !Volume::current()->status(socketPath(), Follow::NotFinal) && !Volume::current()->status(pidFilePath(), Follow::NotFinal);
    for (const QString &path : std::exchange(m_immutable, {}))
        QProcess::execute("chattr", {"-i", path});
    const QString toolLog = log();
    m_volume.reset();
    m_outside.reset();
    QVERIFY2(serving, qPrintable("the tool ended while serving:\n" + toolLog));
    QVERIFY2(clean, qPrintable("SIGTERM did not stop the tool cleanly:\n" + toolLog));
}

QStringList TestHelperTool::askAll(const QList<Message> &messages)
{
    FrameChannel channel(Volume::current()->connectToSocket(socketPath()));
    QStringList replies;
    for (const Message &message : messages) {
        Message reply;
        if (channel.send(message, 5000) != FrameChannel::Status::Ok || channel.receive(&reply, 300000) != FrameChannel::Status::Ok)
            break;
        replies.append(reply.value("reply"));
    }
    return replies;
}

// The built tool's own version, and the fuzz target's seeds: those named
// "good-" hold version 7 (both classes and byte orders, and the form with
// very many sections); every other holds none (another section name, no
// property list, a number for the version, or a header or section table
// that points past the end or wraps round).
void TestHelperTool::embeddedVersion_data()
{
    QTest::addColumn<QByteArray>("elf");
    QTest::addColumn<QString>("version");   // empty: none is found
    QTest::newRow("the built tool") << fileContents(DORVANE_HELPER_TOOL) << DORVANE_HELPER_VERSION;
    const QDir seeds(DORVANE_ELF_SEEDS);
    const QStringList names = seeds.entryList(QDir::Files, QDir::Name);
    QVERIFY(names.contains("good-elf32-msb") && names.contains("good-many-sections") && names.contains("a-number"));
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << fileContents(seeds.filePath(name)) << QString(name.startsWith("good-") ? "7" : "");
}

void TestHelperTool::embeddedVersion()
{
    QFETCH(QByteArray, elf);
    QFETCH(QString, version);
    const std::optional<QString> found = platform::ExecutableInfo::bundleVersion(elf, InfoPlistSection);
    QCOMPARE(found.value_or(QString()), version);
    QCOMPARE(found.has_value(), !version.isEmpty());
}

void TestHelperTool::badArguments_data()
{
    QTest::addColumn<QString>("arguments");
    for (const char *arguments : {"", "--root /", "--root / --serve-uid me", "--root / --serve-uid 0 --read-timeout-ms 0",
                                  "--root / --serve-uid 0 --fast", "--root /nonexistent/volume --serve-uid 0"})
        QTest::newRow(arguments) << arguments;
}

void TestHelperTool::badArguments()
{
    QFETCH(QString, arguments);
    QProcess tool;
    tool.start(DORVANE_HELPER_TOOL, arguments.split(' ', Qt::SkipEmptyParts));
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY(!tool.readAllStandardError().isEmpty());
}

void TestHelperTool::servesOnlyRootAndItsUser_data()
{
    QTest::addColumn<uint>("uid");
    QTest::addColumn<bool>("served");
    QTest::newRow("another user") << 65534u << false;
    QTest::newRow("the served user") << uint(ServedUid) << true;
}

void TestHelperTool::servesOnlyRootAndItsUser()
{
    QFETCH(uint, uid);
    QFETCH(bool, served);
    QVERIFY(m_volume->writeFile("/Applications/Victim.app/Contents/file"));
    const pid_t child = ::fork();
    if (child == 0) {
        // Exit 0: answered; 1: closed unanswered (or never reached: then
        // the tool logs no refusal).
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
        ::prctl(PR_SET_DUMPABLE, 1);   // keeps /proc/self/fd, the door to the socket, its own
        ::_exit(askAll({request("delete", json({"/Applications/Victim.app"}))}).isEmpty() ? 1 : 0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), served ? 0 : 1);
    QCOMPARE(present(phys("/Applications/Victim.app")), !served);
    if (!served)
        QTRY_VERIFY(log().contains(QStringLiteral("refused a client of pid %1, uid %2").arg(child).arg(uid)));
}

// The per-item rules themselves are the wire library's (tst_helperwire);
// these rows are what the tool does with them on a real volume.
void TestHelperTool::answers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("item");     // kill: "child", "ended" and "tool" stand for those processes
    QTest::addColumn<QString>("reason");   // in the item's reply; empty: no failure
    QTest::addColumn<QStringList>("gone"); // of the volume below, besides what every delete removes
    const QString receipts = "/private/var/db/receipts/";
    const auto row = [](const char *name, const char *type, const QString &item, const char *reason, const QStringList &gone = {}) {
        QTest::newRow(name) << type << item << reason << gone;
    };
    row("delete: ..", "delete", "/Applications/Good.app/../Keep.app", "component");
    row("delete: a home's Library", "delete", "/Users/x/Library", "protected");
    row("delete: immutable inside", "delete", "/Applications/Imm.app", "Operation not permitted", {"/Applications/Imm.app/Contents/a"});
    row("delete: missing counts as removed", "delete", "/Applications/Missing.app", "");
    row("delete: a link, as a link", "delete", "/Applications/Link.app", "", {"/Applications/Link.app"});
    row("delete: a link out, as a link", "delete", "/Applications/Out.app", "", {"/Applications/Out.app"});
    row("delete: through a link on the volume", "delete", "/Applications/Via.app/Keep/file", "link");
    // An absolute link target counts from the volume's root: the link out
    // leads to nothing there, which counts as removed.
    row("delete: through a link out", "delete", "/Applications/Via.app/Out/outside", "");
    row("kill: a running process", "kill", "child", "");
    row("kill: an ended process", "kill", "ended", "errno 3");
    row("kill: the tool itself", "kill", "tool", "own process");
    row("forget: both files", "forget", "com.x.both", "Forgot package", {receipts + "com.x.both.plist", receipts + "com.x.both.bom"});
    row("forget: already gone", "forget", "com.x.none", "Forgot package");
    row("forget: an immutable bill", "forget", "com.x.lock", "still there", {receipts + "com.x.lock.plist"});
    row("forget: climbing", "forget", "../y", "Refused");
}

// Each item goes or is refused on its own: a delete's good paths of the same
// request go all the same, nothing else is touched, and the tool serves on.
void TestHelperTool::answers()
{
    QFETCH(QString, type);
    QFETCH(QString, item);
    QFETCH(QString, reason);
    QFETCH(QStringList, gone);
    const QString receipts = "/private/var/db/receipts/";
    const QStringList files = {"/Applications/Keep.app/Contents/file", "/Library/Keep/file", "/Users/x/Library/Prefs/file",
                               "/Applications/Imm.app/Contents/a", "/Applications/Imm.app/Contents/locked",
                               "/private/var/db/y.plist", receipts + "com.x.other.bom", receipts + "com.x.both.plist",
                               receipts + "com.x.both.bom", receipts + "com.x.lock.plist", receipts + "com.x.lock.bom"};
    const QStringList removedByEveryDelete = {"/Applications/Good.app", "/Library/Good"};
    for (const QString &file : files + QStringList{"/Applications/Good.app/Contents/MacOS/good", "/Library/Good/one"})
        QVERIFY(m_volume->writeFile(file));
    for (const QString &file : {QString("/Applications/Imm.app/Contents/locked"), receipts + "com.x.lock.bom"}) {
        QCOMPARE(QProcess::execute("chattr", {"+i", phys(file)}), 0);
        m_immutable.append(phys(file));
    }
    QVERIFY(QFile(m_outside->filePath("outside")).open(QIODevice::WriteOnly));
    const QMap<QString, QString> links = {{"/Applications/Link.app", "/Library/Keep"}, {"/Applications/Out.app", m_outside->path()},
                                          {"/Applications/Via.app/Keep", "../../Library/Keep"}, {"/Applications/Via.app/Out", m_outside->path()}};
    for (auto link = links.cbegin(); link != links.cend(); ++link)
        QVERIFY(m_volume->makeLink(link.key(), link.value()));
    QProcess process;
    if (type == "kill") {
        process.start(item == "ended" ? "true" : "sleep", {"600"});
        QVERIFY(process.waitForStarted());
    }
    const QString sent = item == "child" || item == "ended" ? QString::number(process.processId())
                       : item == "tool" ? QString::number(m_tool.processId()) : item;
    if (item == "ended")
        QVERIFY(process.waitForFinished());

    const QStringList items = type == "delete" ? QStringList{"/Applications/Good.app", sent, "/Library/Good"} : QStringList{sent};
    const QStringList replies = askAll({request(type, type == "forget" ? sent : json(items)), forgetMessage("com.x.none")});
    QCOMPARE(replies.size(), 2);
    QVERIFY(replies[1].contains("Forgot package"));
    if (type == "forget") {
        QVERIFY2(replies[0].contains(reason), qPrintable(replies[0]));
    } else {
        const QJsonObject reply = QJsonDocument::fromJson(replies[0].toUtf8()).object();
        QCOMPARE(reply.keys(), reason.isEmpty() ? QStringList() : QStringList{sent});
        QVERIFY2(reply.value(sent).toString().contains(reason), qPrintable(replies[0]));
    }
    if (item == "child") {
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    }
    if (type == "delete")
        gone += removedByEveryDelete;
    for (const QString &path : files + links.keys() + removedByEveryDelete)
        QVERIFY2(present(phys(path)) != gone.contains(path), qPrintable(path));
    QVERIFY(present(m_outside->filePath("outside")));
    process.kill();
    process.waitForFinished();
}

void TestHelperTool::neverRemovesThroughALinkSwappedIn_data()
{
    QTest::addColumn<bool>("outside");
    QTest::newRow("out of the volume") << true;
    QTest::newRow("elsewhere on it") << false;
}

// As soon as the first file of a 20,000-file removal goes, every folder of
// the tree is replaced by a link to a target of ten files. Nothing of the
// target may go.
void TestHelperTool::neverRemovesThroughALinkSwappedIn()
{
    QFETCH(bool, outside);
    const int folders = 200;
    const QString target = outside ? m_outside->filePath("Target") : phys("/Library/Target");
    QVERIFY(QDir().mkpath(target) && QDir().mkpath(phys("/Moved")));
    for (int d = 0; d < folders; ++d)
        for (int f = 0; f < 100; ++f)
            QVERIFY(m_volume->writeFile(QStringLiteral("/Applications/Big.app/d%1/f%2").arg(d).arg(f)));
    for (int f = 0; f < 10; ++f)
        QVERIFY(QFile(target + QStringLiteral("/f%1").arg(f)).open(QIODevice::WriteOnly));
    // Relative on the volume, so it leads to the same folder seen from either side of its root.
    const QByteArray link = QFile::encodeName(outside ? target : "../../Library/Target");
    const int watch = ::inotify_init1(IN_CLOEXEC);
    for (int d = 0; d < folders; ++d)
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(phys("/Applications/Big.app/d%1").arg(d)), IN_DELETE) >= 0);
    std::atomic<int> swapped = 0;
    std::thread swapper([&] {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 60000) != 1)
            return;
        for (int d = 0; d < folders; ++d) {
            const QByteArray folder = QFile::encodeName(phys("/Applications/Big.app/d%1").arg(d));
            swapped += ::rename(folder, QFile::encodeName(phys("/Moved/d%1").arg(d))) == 0 && ::symlink(link, folder) == 0;
        }
    });
    const QString reply = ask(request("delete", json({"/Applications/Big.app"})));
    swapper.join();
    ::close(watch);
    QVERIFY2(reply.startsWith('{'), qPrintable(reply));
    QVERIFY2(swapped > 0, "the removal ended before a link could be swapped in");
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 10);
}

void TestHelperTool::badClientsLoseOnlyTheirConnection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hangUp");   // the client closes after sending
    QTest::addColumn<QString>("logged");
    const QByteArray frame = encodeFrame(request("delete", json({"/Applications/Keep.app"}))).value();
    QTest::newRow("malformed frame") << u32(14) + u32(1) + str("\xff") + str("b") << false << "not valid UTF-8";
    QTest::newRow("over-size length") << u32(MaxPayloadBytes + 1) << false << "over the cap";
    QTest::newRow("unknown type") << encodeFrame(request("rename", "[]")).value() << false << "unknown request type";
    QTest::newRow("wrong keys") << encodeFrame({{"type", "delete"}}).value() << false << "exactly the keys";
    QTest::newRow("no array") << encodeFrame(request("delete", "\"/Applications\"")).value() << false << "not a JSON array";
    QTest::newRow("closed mid-message") << frame.first(frame.size() / 2) << true << "mid-message";
    QTest::newRow("silent") << QByteArray() << false << "no whole message before the deadline";
    QTest::newRow("silent mid-message") << frame.first(3) << false << "no whole message before the deadline";
}

void TestHelperTool::badClientsLoseOnlyTheirConnection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hangUp);
    QFETCH(QString, logged);
    QVERIFY(m_volume->writeFile("/Applications/Keep.app/file"));
    const int bad = Volume::current()->connectToSocket(socketPath());
    QVERIFY(bad >= 0);
    QCOMPARE(::send(bad, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), ssize_t(bytes.size()));
    if (hangUp)
        ::close(bad);
    // Another client is served meanwhile.
    QVERIFY(ask(forgetMessage("com.x.none")).contains("Forgot package"));
    if (!hangUp) {
        // The tool closes the bad connection without a reply.
        pollfd closed{bad, POLLIN, 0};
        QCOMPARE(::poll(&closed, 1, 10000), 1);
        char byte;
        QCOMPARE(::recv(bad, &byte, 1, 0), ssize_t(0));
        ::close(bad);
    }
    QTRY_VERIFY2(log().contains(logged), qPrintable(log()));
    QVERIFY(present(phys("/Applications/Keep.app/file")));
}

QTEST_GUILESS_MAIN(TestHelperTool)
#include "tst_helpertool.moc"
