// The helper tool as the application meets it: the real executable on a
// volume in a temporary folder, spoken to over its socket by a process of
// the user it serves, who may send anything at all.

#include "support/FixturePackages.h"
#include "support/VolumeFixture.h"

#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "helperwire/HelperReply.h"
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
using volumegen::PathItem;

namespace {

constexpr uid_t ServedUid = 60001;
const QString kHome = QStringLiteral("/Users/tester");

QByteArray u32(quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); }
QByteArray str(const QByteArray &bytes) { return u32(bytes.size()) + bytes; }
QString json(const QStringList &items) { return QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact); }
Message request(const QString &type, const QString &argument, const QStringList &packages = {"com.x.good"})
{
    return {{"type", type}, {"request", argument}, {"packages", json(packages)}};
}
bool present(const QString &physical) { const QFileInfo info(physical); return info.exists() || info.isSymLink(); }
QString outcomeName(ItemOutcome::Kind kind)
{
    return QStringList{"removed", "gone", "refused", "failed"}.value(int(kind));
}

// The volume's packages: Good with its files, folders, links, an
// application that generated a cache and a program it runs; Keep, which
// shares a file with Good; an immutable one; an essential one; Other's
// application; a receipt of the user's own; and receipts to forget.
void writePackages(volumegen::VolumeBuilder &builder, const QString &outside)
{
    PathItem gone = PathItem::file("Library/Good/gone", 1);
    gone.onDisk = false;
    volumegen::Package good = package("com.x.good",
        {PathItem::folder("Library/Good"), PathItem::file("Library/Good/one", 1), PathItem::folder("Library/Good/Empty"),
         PathItem::folder("Library/Good/Added"), PathItem::folder("Library/Good/DS"), gone,
         PathItem::file("Library/Shared/s.dat", 1), PathItem::file("usr/bin/goodtool", 1),
         PathItem::link("Applications/Link.app", "../Library/Keep"), PathItem::link("Applications/Out.app", outside),
         programCopy("Applications/Good.app/Contents/MacOS/good-helper")});
    volumegen::AppBundle goodApp = app("/Applications/Good.app", "Good", "com.x.good.app");
    goodApp.generated = volumegen::GeneratedItem::Caches;
    good.applications = {goodApp};
    volumegen::Package other = package("com.x.other", {});
    other.applications = {goodApp};
    other.applications.first().path = "/Applications/Other.app";
    other.applications.first().bundleIdentifier = "com.x.other.app";
    volumegen::Package user = package("com.x.user", {PathItem::file("Library/Mine/x", 1)});
    user.location = volumegen::Package::User;
    writeReceipts(builder, {good, package("com.x.keep", {PathItem::file("Library/Keep/file", 1), PathItem::file("Library/Shared/s.dat", 1)}),
                            package("com.x.imm", {PathItem::file("Applications/Imm.app/Contents/locked", 1)}),
                            package("com.apple.pkg.BSD", {PathItem::file("usr/lib/libSystem.B.dylib", 1)}), other, user,
                            package("com.x.both", {PathItem::file("Library/Both/b", 1)}),
                            package("com.x.lock", {PathItem::file("Library/Lock/l", 1)}),
                            package("com.x.named", {PathItem::file("Library/Named/n", 1)}),
                            package("com.x.beta", {programCopy("Applications/Good.app Beta.app/Contents/MacOS/beta")})});
}

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
    void mountPointsAreNeverEntered();
    void neverRemovesThroughALinkSwappedIn_data();
    void neverRemovesThroughALinkSwappedIn();
    void badClientsLoseOnlyTheirConnection_data();
    void badClientsLoseOnlyTheirConnection();

private:
    QString phys(const QString &logical) const { return m_volume->physical(logical); }
    QString log() const { return QString::fromUtf8(fileContents(m_outside->filePath("tool.log"))); }
    void setImmutable(const QString &logical);
    // The replies to the messages, sent on one new connection by a child
    // process of the served user (or `uid`); fewer when the tool closed it.
    QStringList askAll(const QList<Message> &messages, uid_t uid = ServedUid);
    QString ask(const Message &message) { return askAll({message}).value(0, QStringLiteral("<no reply>")); }

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<QTemporaryDir> m_outside;   // outside the volume: the tool's log, link targets
    QProcess m_tool;
    QStringList m_immutable;
    QStringList m_mounted;
};

// Every test but the reader's and the arguments' runs the tool on a new volume.
void TestHelperTool::init()
{
    const QByteArray test = QTest::currentTestFunction();
    if (test == "embeddedVersion" || test == "badArguments")
        return;
    if (::geteuid() != 0)
        QSKIP("the helper tool removes, kills and checks peers as root");
    m_volume = std::make_unique<VolumeFixture>(kHome);
    m_outside = std::make_unique<QTemporaryDir>();
    QVERIFY(m_volume->isValid() && m_outside->isValid());
    QVERIFY(QFile(m_outside->filePath("outside")).open(QIODevice::WriteOnly));
    volumegen::VolumeBuilder builder(m_volume->root(), kHome);
    writePackages(builder, m_outside->path());
    // A receipt is known by the identifier inside it, whatever its file is called.
    for (const char *suffix : {".plist", ".bom"})
        QVERIFY(QFile::rename(phys("/private/var/db/receipts/com.x.named") + suffix, phys("/private/var/db/receipts/renamed") + suffix));
    QVERIFY(m_volume->writeFile("/private/etc/master.passwd") && m_volume->writeFile("/Library/Mine/x")
            && m_volume->writeFile("/Library/Good/Added/new") && m_volume->makeFolder("/Library/Good/DS/.DS_Store"));
    setImmutable("/Applications/Imm.app/Contents/locked");
    setImmutable("/private/var/db/receipts/com.x.lock.bom");
    // Other users may pass through to the socket, as on a real disk.
    QVERIFY(QFile::setPermissions(m_volume->root(), QFile::Permissions(0x7755)));
    m_tool.setStandardErrorFile(m_outside->filePath("tool.log"));
    m_tool.start(DORVANE_HELPER_TOOL, {"--root", m_volume->root(), "--serve-uid", QString::number(ServedUid), "--home",
                                       kHome, "--read-timeout-ms", "500"});
    QVERIFY(m_tool.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(Volume::current()->readFile(pidFilePath(), 64).value_or(""),
                              QByteArray::number(m_tool.processId()) + "\n", 10000);
}

void TestHelperTool::setImmutable(const QString &logical)
{
    QCOMPARE(QProcess::execute("chattr", {"+i", phys(logical)}), 0);
    m_immutable.append(phys(logical));
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
    for (const QString &mount : std::exchange(m_mounted, {}))
        QProcess::execute("umount", {mount});
    const QString toolLog = log();
    m_volume.reset();
    m_outside.reset();
    QVERIFY2(serving, qPrintable("the tool ended while serving:\n" + toolLog));
    QVERIFY2(clean, qPrintable("SIGTERM did not stop the tool cleanly:\n" + toolLog));
}

QStringList TestHelperTool::askAll(const QList<Message> &messages, uid_t uid)
{
    int pipe[2];
    if (::pipe(pipe) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
        ::prctl(PR_SET_DUMPABLE, 1);   // keeps /proc/self/fd, the door to the socket, its own
        FrameChannel channel(Volume::current()->connectToSocket(socketPath()));
        for (const Message &message : messages) {
            Message reply;
            if (channel.send(message, 5000) != FrameChannel::Status::Ok || channel.receive(&reply, 300000) != FrameChannel::Status::Ok)
                break;
            const QByteArray bytes = str(reply.value("reply").toUtf8());
            if (::write(pipe[1], bytes.constData(), size_t(bytes.size())) != bytes.size())
                break;
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    QByteArray got;
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    ::close(pipe[0]);
    ::waitpid(child, nullptr, 0);
    QStringList replies;
    for (qsizetype at = 0; at + 4 <= got.size();) {
        const quint32 length = (quint32(uchar(got[at])) << 24) | (quint32(uchar(got[at + 1])) << 16)
                               | (quint32(uchar(got[at + 2])) << 8) | quint32(uchar(got[at + 3]));
        replies.append(QString::fromUtf8(got.mid(at + 4, length)));
        at += 4 + length;
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
    for (const char *arguments : {"", "--root /", "--root / --serve-uid me --home /h", "--root / --serve-uid 0",
                                  "--root / --serve-uid 0 --home h", "--root / --serve-uid 0 --home /h --read-timeout-ms 0",
                                  "--root / --serve-uid 0 --home /h --fast", "--root /nonexistent/volume --serve-uid 0 --home /h"})
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
    const QStringList replies = askAll({request("delete", json({"/Library/Good/one"}))}, uid);
    QCOMPARE(replies.size(), served ? 1 : 0);
    QCOMPARE(present(phys("/Library/Good/one")), !served);
    if (!served)
        QTRY_VERIFY(log().contains(QStringLiteral("uid %1").arg(uid)));
}

// What the tool does with each item on a real volume: the form rules are
// the wire library's (tst_helperwire), and here the volume's own receipts
// decide. A request for what they do not justify for the packages it names
// is refused and changes nothing; the same shape for the right packages
// goes.
void TestHelperTool::answers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("packages");
    QTest::addColumn<QString>("item");     // kill: "good", "beta", "outside", "ended" and "tool" stand for those processes
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("reason");   // part of the item's reason
    QTest::addColumn<QStringList>("gone"); // what goes from the volume
    const QString receipts = "/private/var/db/receipts/";
    const QString cache = kHome + "/Library/Caches/com.x.good.app";
    const auto row = [](const char *name, const char *type, const QStringList &packages, const QString &item,
                        const char *outcome, const char *reason, const QStringList &gone = {}) {
        QTest::newRow(name) << type << packages << item << outcome << reason << gone;
    };
    const QStringList good{"com.x.good"};
    row("refused: a system file no receipt lists", "delete", good, "/private/etc/master.passwd", "refused", "no package being uninstalled");
    row("refused: another package's file", "delete", good, "/Library/Keep/file", "refused", "no package being uninstalled");
    row("refused: shared with a package kept", "delete", good, "/Library/Shared/s.dat", "refused", "com.x.keep, which is not");
    row("refused: in an ignored folder", "delete", good, "/usr/bin/goodtool", "refused", "ignored folder");
    row("refused: an essential package's", "delete", {"com.apple.pkg.BSD"}, "/usr/lib/libSystem.B.dylib", "refused", "essential");
    row("refused: what another application generated", "delete", good, kHome + "/Library/Caches/com.x.other.app", "refused", "no package");
    row("refused: another package's application", "delete", good, "/Applications/Other.app", "refused", "no package");
    row("refused: a user's receipt for a system path", "delete", {"com.x.user"}, "/Library/Mine/x", "refused", "no package");
    row("refused: a form rule", "delete", good, "/Applications/Good.app/../Keep.app", "refused", "component");
    row("listed file", "delete", good, "/Library/Good/one", "removed", "", {"/Library/Good/one"});
    row("a file shared by two selected packages", "delete", {"com.x.good", "com.x.keep"}, "/Library/Shared/s.dat", "removed", "",
        {"/Library/Shared/s.dat"});
    row("application folder, whole", "delete", good, "/Applications/Good.app", "removed", "", {"/Applications/Good.app"});
    row("generated item", "delete", good, cache, "removed", "", {cache});
    row("a user's receipt in its home", "delete", {"com.x.user"}, kHome + "/Library/Mine/x", "removed", "", {kHome + "/Library/Mine/x"});
    row("a listed link, as a link", "delete", good, "/Applications/Link.app", "removed", "", {"/Applications/Link.app"});
    row("a listed link out, as a link", "delete", good, "/Applications/Out.app", "removed", "", {"/Applications/Out.app"});
    row("listed and gone", "delete", good, "/Library/Good/gone", "gone", "");
    row("a listed folder is never removed with its insides", "delete", good, "/Library/Good/Added", "failed", "a folder");
    row("immutable", "delete", {"com.x.imm"}, "/Applications/Imm.app/Contents/locked", "failed", "Operation not permitted");
    row("empty folder", "deleteEmptyFolder", good, "/Library/Good/Empty", "removed", "", {"/Library/Good/Empty"});
    row("empty folder: a file added since the plan stays", "deleteEmptyFolder", good, "/Library/Good/Added", "failed", "not empty");
    row("empty folder: a folder named .DS_Store keeps it", "deleteEmptyFolder", good, "/Library/Good/DS", "failed", "not empty");
    row("empty folder: another package's", "deleteEmptyFolder", good, "/Library/Keep", "refused", "no package");
    row("kill: a program of the package", "kill", good, "good", "removed", "");
    row("kill: Good.app Beta.app is not Good.app", "kill", good, "beta", "refused", "nothing the packages");
    row("kill: a process off the volume", "kill", good, "outside", "refused", "nothing on the volume");
    row("kill: an ended process", "kill", good, "ended", "gone", "");
    row("kill: the tool itself", "kill", good, "tool", "refused", "own process");
    row("forget: both files", "forget", {"com.x.both"}, "com.x.both", "removed", "",
        {receipts + "com.x.both.plist", receipts + "com.x.both.bom"});
    row("forget: found by the identifier inside", "forget", {"com.x.named"}, "com.x.named", "removed", "",
        {receipts + "renamed.plist", receipts + "renamed.bom"});
    row("forget: no receipt holds it", "forget", {"com.x.none"}, "com.x.none", "failed", "no receipt");
    row("forget: an immutable bill", "forget", {"com.x.lock"}, "com.x.lock", "failed", "Operation not permitted",
        {receipts + "com.x.lock.plist"});
    row("forget: not a package being uninstalled", "forget", good, "com.x.keep", "refused", "not a package being");
    row("forget: an essential package", "forget", {"com.apple.pkg.BSD"}, "com.apple.pkg.BSD", "refused", "essential");
    const QString unlisted = "20261207-101010-abcdef";   // of a run's form, but no run the tool recorded
    row("restore: a run not in the quarantine", "restore", {}, unlisted, "refused", "no such run");
    row("empty: a run not in the quarantine", "emptyQuarantine", {}, unlisted, "refused", "no such run");
}

void TestHelperTool::answers()
{
    QFETCH(QString, type);
    QFETCH(QStringList, packages);
    QFETCH(QString, item);
    QFETCH(QString, outcome);
    QFETCH(QString, reason);
    QFETCH(QStringList, gone);
    const QStringList tracked = {"/private/etc/master.passwd", "/Library/Keep/file", "/Library/Shared/s.dat", "/usr/bin/goodtool",
        "/usr/lib/libSystem.B.dylib", kHome + "/Library/Caches/com.x.other.app", "/Applications/Other.app", "/Library/Mine/x",
        "/Library/Good/one", "/Applications/Good.app", kHome + "/Library/Caches/com.x.good.app", kHome + "/Library/Mine/x",
        "/Applications/Link.app", "/Applications/Out.app", "/Library/Good/Empty", "/Library/Good/Added/new", "/Library/Good/DS/.DS_Store",
        "/Applications/Imm.app/Contents/locked", "/private/var/db/receipts/com.x.both.plist", "/private/var/db/receipts/com.x.both.bom",
        "/private/var/db/receipts/renamed.plist", "/private/var/db/receipts/renamed.bom", "/private/var/db/receipts/com.x.lock.plist",
        "/private/var/db/receipts/com.x.keep.plist", "/Applications/Good.app Beta.app/Contents/MacOS/beta"};
    for (const QString &path : tracked)
        QVERIFY2(present(phys(path)), qPrintable(path));
    QProcess process;
    const QMap<QString, QString> programs{{"good", phys("/Applications/Good.app/Contents/MacOS/good-helper")},
                                          {"beta", phys("/Applications/Good.app Beta.app/Contents/MacOS/beta")},
                                          {"outside", "sleep"}, {"ended", "true"}};
    if (programs.contains(item)) {
        process.start(programs.value(item), {"600"});
        QVERIFY(process.waitForStarted());
    }
    const QString sent = programs.contains(item) ? QString::number(process.processId())
                       : item == "tool" ? QString::number(m_tool.processId()) : item;
    if (item == "ended")
        QVERIFY(process.waitForFinished());

    const bool quarantine = type == "restore" || type == "emptyQuarantine";
    const QString text = ask(quarantine ? Message{{"type", type}, {"request", sent}}
                                        : request(type, type == "forget" ? sent : json({sent}), packages));
    const std::optional<Reply> reply = decodeReply(text);
    QVERIFY2(reply && !reply->items.isEmpty(), qPrintable(text));
    const ItemOutcome &got = type == "forget" && outcome != "removed" ? reply->failures().value(0) : reply->items.first();
    QCOMPARE(outcomeName(got.kind), outcome);
    QVERIFY2(got.reason.contains(reason), qPrintable(text));
    QCOMPARE(reply->text.isEmpty(), !(type == "forget" && outcome == "removed"));
    if (item == "good" || item == "beta" || item == "outside") {
        QCOMPARE(process.waitForFinished(item == "good" ? 10000 : 200), item == "good");
        process.kill();
        process.waitForFinished();
    }
    for (const QString &path : tracked)
        QVERIFY2(present(phys(path)) != std::any_of(gone.cbegin(), gone.cend(), [&](const QString &g) {
                     return path == g || path.startsWith(g + '/');
                 }), qPrintable(path));
    QVERIFY(present(m_outside->filePath("outside")));
    QVERIFY(log().contains(outcome == "refused" ? "refused" : "done"));
}

// A file system mounted inside what goes, or at a listed folder itself, is
// never entered: neither a tmpfs nor a bind mount of the volume's own.
void TestHelperTool::mountPointsAreNeverEntered()
{
    const QString tmpfs = phys("/Applications/Good.app/Contents/Mnt");
    const QString bound = phys("/Applications/Good.app/Contents/Bound");
    QVERIFY(QDir().mkpath(tmpfs) && QDir().mkpath(bound));
    if (QProcess::execute("mount", {"-t", "tmpfs", "none", tmpfs}) != 0)
        QSKIP("mounting is not allowed here");
    m_mounted.append(tmpfs);
    QCOMPARE(QProcess::execute("mount", {"--bind", phys("/Library/Keep"), bound}), 0);
    m_mounted.append(bound);
    QCOMPARE(QProcess::execute("mount", {"-t", "tmpfs", "none", phys("/Library/Good/Empty")}), 0);
    m_mounted.append(phys("/Library/Good/Empty"));
    QVERIFY(QFile(tmpfs + "/mounted").open(QIODevice::WriteOnly));
    const QStringList replies = askAll({request("delete", json({"/Applications/Good.app"})),
                                        request("deleteEmptyFolder", json({"/Library/Good/Empty"}))});
    QCOMPARE(replies.size(), 2);
    for (const QString &text : replies) {
        const std::optional<Reply> reply = decodeReply(text);
        QVERIFY(reply && reply->failures().size() == 1);
        QVERIFY2(reply->items.first().reason.contains("mounted"), qPrintable(text));
    }
    QVERIFY(QFileInfo::exists(tmpfs + "/mounted") && QFileInfo::exists(phys("/Library/Keep/file")));
    QVERIFY(!present(phys("/Applications/Good.app/Contents/Info.plist")));
    QVERIFY(QFileInfo(phys("/Library/Good/Empty")).isDir());
}

void TestHelperTool::neverRemovesThroughALinkSwappedIn_data()
{
    QTest::addColumn<bool>("outside");
    QTest::newRow("out of the volume") << true;
    QTest::newRow("elsewhere on it") << false;
}

// As soon as the first file of a 3,000-file removal goes, every folder of
// the tree is replaced by a link to a target of ten files. Nothing of the
// target may go.
void TestHelperTool::neverRemovesThroughALinkSwappedIn()
{
    QFETCH(bool, outside);
    volumegen::VolumeBuilder builder(m_volume->root(), kHome);
    volumegen::Package big = package("com.x.big", {});
    big.applications = {app("/Applications/Big.app", "Big", "com.x.big.app")};
    writeReceipts(builder, {big});
    const int folders = 100;
    const QString target = outside ? m_outside->filePath("Target") : phys("/Library/Target");
    QVERIFY(QDir().mkpath(target) && QDir().mkpath(phys("/Moved")));
    for (int d = 0; d < folders; ++d)
        for (int f = 0; f < 30; ++f)
            QVERIFY(m_volume->writeFile(QStringLiteral("/Applications/Big.app/d%1/f%2").arg(d).arg(f)));
    for (int f = 0; f < 10; ++f)
        QVERIFY(QFile(target + QStringLiteral("/f%1").arg(f)).open(QIODevice::WriteOnly));
    // Relative on the volume, so it leads to the same folder seen from either side of its root.
    const QByteArray link = QFile::encodeName(outside ? target : "../../Library/Target");
    const int watch = ::inotify_init1(IN_CLOEXEC);
    for (int d = 0; d < folders; ++d)
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(phys("/Applications/Big.app/d%1").arg(d)), IN_DELETE) >= 0);
    std::atomic<int> swapped = 0;
    // The client is forked only once the swapper waits in poll(): a fork
    // while the new thread still sets itself up (and holds the allocator)
    // leaves the child stuck in its first allocation.
    std::atomic<bool> polling = false;
    std::thread swapper([&] {
        pollfd ready{watch, POLLIN, 0};
        polling = true;
        polling.notify_one();
        if (::poll(&ready, 1, 60000) != 1)
            return;
        for (int d = 0; d < folders; ++d) {
            const QByteArray folder = QFile::encodeName(phys("/Applications/Big.app/d%1").arg(d));
            swapped += ::rename(folder, QFile::encodeName(phys("/Moved/d%1").arg(d))) == 0 && ::symlink(link, folder) == 0;
        }
    });
    polling.wait(false);
    const QString reply = ask(request("delete", json({"/Applications/Big.app"}), {"com.x.big"}));
    swapper.join();
    ::close(watch);
    QVERIFY2(decodeReply(reply), qPrintable(reply));
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
    QTest::newRow("a run that is a path") << encodeFrame({{"type", "restore"}, {"request", "../../../private/etc"}}).value()
                                          << false << "is not a run's identifier";
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
    QVERIFY(decodeReply(ask(forgetMessage("com.x.none", {"com.x.none"}))));
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
