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
constexpr char Plist[] = "<plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>7</string></dict></plist>";

QByteArray u32(quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); }
QByteArray str(const QByteArray &bytes) { return u32(bytes.size()) + bytes; }
QString json(const QStringList &items) { return QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact); }
Message request(const QString &type, const QString &argument) { return {{"type", type}, {"request", argument}}; }
bool present(const QString &physical) { const QFileInfo info(physical); return info.exists() || info.isSymLink(); }

void setField(QByteArray &bytes, qsizetype at, quint64 value, int width, bool big)
{
    for (int i = 0; i < width; ++i)
        bytes[at + (big ? width - 1 - i : i)] = char(value >> (8 * i));
}

// An ELF file: the header, the sections' bytes, their name table, and last
// the section table (entry 0 empty, the sections, the name table).
QByteArray makeElf(bool is64, bool big, const QByteArray &name, const QByteArray &data)
{
    QByteArray file(is64 ? 64 : 52, '\0');
    file.replace(0, 7, QByteArray("\x7f" "ELF") + char(is64 ? 2 : 1) + char(big ? 2 : 1) + char(1));
    const QByteArray names = QByteArray(1, '\0') + name + '\0' + ".shstrtab" + '\0';
    const quint64 entries[3][4] = {{0, 0, 0, 0}, {1, 1, quint64(file.size()), quint64(data.size())},
                                   {quint64(name.size()) + 2, 3, quint64(file.size() + data.size()), quint64(names.size())}};
    file += data + names;
    const qsizetype table = file.size();
    for (const auto &e : entries) {
        QByteArray header(is64 ? 64 : 40, '\0');
        setField(header, 0, e[0], 4, big);
        setField(header, 4, e[1], 4, big);
        setField(header, is64 ? 0x18 : 0x10, e[2], is64 ? 8 : 4, big);
        setField(header, is64 ? 0x20 : 0x14, e[3], is64 ? 8 : 4, big);
        file += header;
    }
    setField(file, is64 ? 0x28 : 0x20, table, is64 ? 8 : 4, big);
    setField(file, is64 ? 0x3a : 0x2e, is64 ? 64 : 40, 2, big);
    setField(file, is64 ? 0x3c : 0x30, 3, 2, big);
    setField(file, is64 ? 0x3e : 0x32, 2, 2, big);
    return file;
}

} // namespace

#define START_TOOL()                                                         \
    do {                                                                     \
        if (::geteuid() != 0)                                                \
            QSKIP("the helper tool removes, kills and checks peers as root"); \
        startTool();                                                         \
        if (QTest::currentTestFailed())                                      \
            return;                                                          \
    } while (false)

class TestHelperTool : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void embeddedVersion_data();
    void embeddedVersion();
    void hostileElfNeverReadsOutside();
    void badArguments_data();
    void badArguments();
    void servesOnlyRootAndItsUser_data();
    void servesOnlyRootAndItsUser();
    void deletesWhatTheRulesAllow_data();
    void deletesWhatTheRulesAllow();
    void neverRemovesThroughALink_data();
    void neverRemovesThroughALink();
    void kills_data();
    void kills();
    void forgets_data();
    void forgets();
    void badClientsLoseOnlyTheirConnection_data();
    void badClientsLoseOnlyTheirConnection();

private:
    void startTool();
    QString phys(const QString &logical) const { return m_volume->physical(logical); }
    QString log() const;
    // The replies to the messages, sent on one new connection; fewer when
    // the tool closed it.
    QStringList askAll(const QList<Message> &messages);
    QString ask(const Message &message) { return askAll({message}).value(0, QStringLiteral("<no reply>")); }
    QJsonObject remove(const QStringList &paths) { return QJsonDocument::fromJson(ask(request("delete", json(paths))).toUtf8()).object(); }
    void makeImmutable(const QString &logical);

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<QTemporaryDir> m_outside;   // outside the volume: the tool's log, link targets
    QProcess m_tool;
    QStringList m_immutable;
};

void TestHelperTool::startTool()
{
    m_volume = std::make_unique<VolumeFixture>();
    m_outside = std::make_unique<QTemporaryDir>();
    QVERIFY(m_volume->isValid() && m_outside->isValid());
    // Other users may pass through to the socket, as on a real disk.
    QVERIFY(QFile::setPermissions(m_volume->root(), QFile::Permissions(0x7755)));
    m_tool.setStandardErrorFile(m_outside->filePath("tool.log"));
    m_tool.start(DORVANE_HELPER_TOOL, {"--root", m_volume->root(), "--serve-uid", QString::number(ServedUid),
                                       "--read-timeout-ms", "500"});
    QVERIFY(m_tool.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(Volume::readFile(pidFilePath(), 64).value_or(""),
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
                       && !Volume::status(socketPath(), Follow::NotFinal) && !Volume::status(pidFilePath(), Follow::NotFinal);
    for (const QString &path : std::exchange(m_immutable, {}))
        QProcess::execute("chattr", {"-i", path});
    const QString toolLog = log();
    m_volume.reset();
    m_outside.reset();
    QVERIFY2(serving, qPrintable("the tool ended while serving:\n" + toolLog));
    QVERIFY2(clean, qPrintable("SIGTERM did not stop the tool cleanly:\n" + toolLog));
}

QString TestHelperTool::log() const
{
    QFile file(m_outside->filePath("tool.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList TestHelperTool::askAll(const QList<Message> &messages)
{
    FrameChannel channel(Volume::connectToSocket(socketPath()));
    QStringList replies;
    for (const Message &message : messages) {
        Message reply;
        if (channel.send(message, 5000) != FrameChannel::Status::Ok || channel.receive(&reply, 300000) != FrameChannel::Status::Ok)
            break;
        replies.append(reply.value("reply"));
    }
    return replies;
}

void TestHelperTool::makeImmutable(const QString &logical)
{
    QCOMPARE(QProcess::execute("chattr", {"+i", phys(logical)}), 0);
    m_immutable.append(phys(logical));
}

void TestHelperTool::embeddedVersion_data()
{
    QTest::addColumn<QByteArray>("elf");
    QTest::addColumn<QString>("version");   // empty: none is found
    QFile tool(DORVANE_HELPER_TOOL);
    QVERIFY(tool.open(QIODevice::ReadOnly));
    QTest::newRow("the built tool") << tool.readAll() << DORVANE_HELPER_VERSION;
    for (bool is64 : {true, false})
        for (bool big : {false, true})
            QTest::addRow("ELF%d %s", is64 ? 64 : 32, big ? "MSB" : "LSB") << makeElf(is64, big, InfoPlistSection, Plist) << "7";
    const QByteArray good = makeElf(true, false, InfoPlistSection, Plist);
    const qsizetype table = good.size() - 3 * 64;
    const auto patched = [&](std::initializer_list<std::tuple<qsizetype, int, quint64>> patches) {
        QByteArray elf = good;
        for (auto [at, width, value] : patches)
            setField(elf, at, value, width, false);
        return elf;
    };
    QTest::newRow("many-section form") << patched({{0x3c, 2, 0}, {table + 0x20, 8, 3}, {0x3e, 2, 0xffff}, {table + 0x28, 4, 2}}) << "7";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("no magic") << QByteArray(good).replace(1, 1, "X") << "";
    QTest::newRow("class 3") << QByteArray(good).replace(4, 1, "\x03") << "";
    QTest::newRow("other section") << makeElf(true, false, "__info_plisT", Plist) << "";
    QTest::newRow("no property list") << makeElf(true, false, InfoPlistSection, "junk") << "";
    QTest::newRow("an array") << makeElf(true, false, InfoPlistSection, "<plist><array/></plist>") << "";
    QTest::newRow("a number") << makeElf(true, false, InfoPlistSection, QByteArray(Plist).replace("<string>7</string>", "<integer>7</integer>")) << "";
    QTest::newRow("table past the end") << patched({{0x28, 8, quint64(1) << 62}}) << "";
    QTest::newRow("table cut short") << patched({{0x28, 8, quint64(good.size() - 10)}}) << "";
    QTest::newRow("entry size too small") << patched({{0x3a, 2, 39}}) << "";
    QTest::newRow("count past the end") << patched({{0x3c, 2, 0xffff}}) << "";
    QTest::newRow("name table index too large") << patched({{0x3e, 2, 3}}) << "";
    QTest::newRow("huge many-section count") << patched({{0x3c, 2, 0}, {table + 0x20, 8, quint64(1) << 60}}) << "";
    QTest::newRow("huge many-section index") << patched({{0x3e, 2, 0xffff}, {table + 0x28, 4, 0xfffffff}}) << "";
    QTest::newRow("section past the end") << patched({{table + 64 + 0x18, 8, quint64(1) << 63}}) << "";
    QTest::newRow("section size wraps") << patched({{table + 64 + 0x20, 8, ~quint64(0)}}) << "";
    QTest::newRow("name past its table") << patched({{table + 64, 4, 0x7fffffff}}) << "";
    QTest::newRow("name cut before its NUL") << patched({{table + 128 + 0x20, 8, 13}}) << "";
    QTest::newRow("name table past the end") << patched({{table + 128 + 0x18, 8, quint64(1) << 40}}) << "";
}

void TestHelperTool::embeddedVersion()
{
    QFETCH(QByteArray, elf);
    QFETCH(QString, version);
    const std::optional<QString> found = platform::ExecutableInfo::bundleVersion(elf, InfoPlistSection);
    QCOMPARE(found.value_or(QString()), version);
    QCOMPARE(found.has_value(), !version.isEmpty());
}

// Whatever a byte of the file says, the reader gives back nothing or bytes
// that are in the file, and a cut file gives the whole section or nothing.
void TestHelperTool::hostileElfNeverReadsOutside()
{
    for (bool is64 : {true, false}) {
        const QByteArray good = makeElf(is64, !is64, InfoPlistSection, Plist);
        for (qsizetype cut = 0; cut < good.size(); ++cut) {
            const auto section = platform::ExecutableInfo::section(good.first(cut), InfoPlistSection);
            QVERIFY(!section || *section == Plist);
        }
        for (qsizetype at = 0; at < good.size(); ++at) {
            for (char value : {'\0', '\x01', '\x7f', '\x80', '\xff'}) {
                QByteArray elf = good;
                elf[at] = value;
                const auto section = platform::ExecutableInfo::section(elf, InfoPlistSection);
                QVERIFY(!section || elf.contains(*section));
            }
        }
    }
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
    START_TOOL();
    QVERIFY(m_volume->writeFile("/Applications/Victim.app/Contents/file"));
    const pid_t child = ::fork();
    if (child == 0) {
        // Exit 0: answered; 1: closed unanswered; 2: never reached.
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
        ::prctl(PR_SET_DUMPABLE, 1);   // keeps /proc/self/fd, the door to the socket, its own
        FrameChannel channel(Volume::connectToSocket(socketPath()));
        Message reply;
        if (!channel.isOpen())
            ::_exit(2);
        ::_exit(channel.send(request("delete", json({"/Applications/Victim.app"})), 5000) == FrameChannel::Status::Ok
                        && channel.receive(&reply, 10000) == FrameChannel::Status::Ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), served ? 0 : 1);
    QCOMPARE(present(phys("/Applications/Victim.app")), !served);
    if (!served)
        QTRY_VERIFY(log().contains(QStringLiteral("refused a client of pid %1, uid %2").arg(child).arg(uid)));
}

void TestHelperTool::deletesWhatTheRulesAllow_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("why");   // in the reply's reason; empty when the path goes
    const QStringList rows = {
        "relative", "Applications/Keep.app", "absolute", "..", "/Applications/Good.app/../Keep.app", "component",
        ".", "/Applications/./Keep.app", "component", "empty component", "/Applications//Keep.app", "component",
        "trailing slash", "/Applications/Keep.app/", "component", "NUL", QString::fromUtf8("/Applications/Keep.app\0/x", 25), "NUL",
        "control", "/Applications/Keep.app\n", "control", "over PATH_MAX", "/Applications/" + QString(5000, 'a'), "longer",
        "root", "/", "protected", "top-level folder", "/Applications", "protected", "top-level Library", "/Library", "protected",
        "a home", "/Users/x", "protected", "a home's Library", "/Users/x/Library", "protected", "deny list", "/System", "protected",
        "deny list private", "/private/var", "protected", "deny list, Mac spelling", "/etc", "protected",
        "immutable inside", "/Applications/Imm.app", "Operation not permitted", "missing counts as removed", "/Applications/Missing.app", "",
        "a link, as a link", "/Applications/Link.app", "", "a link out, as a link", "/Applications/Out.app", ""};
    for (qsizetype i = 0; i < rows.size(); i += 3)
        QTest::newRow(qPrintable(rows[i])) << rows[i + 1] << rows[i + 2];
}

// Each path goes or is refused on its own; the good ones of the same request
// go all the same, nothing else is touched, and the tool serves on.
void TestHelperTool::deletesWhatTheRulesAllow()
{
    QFETCH(QString, path);
    QFETCH(QString, why);
    START_TOOL();
    const QStringList kept = {"/Applications/Keep.app/Contents/file", "/Library/Keep/file", "/Users/x/Library/Prefs/file",
                              "/System/Library/file", "/private/var/db/file", "/private/etc/hosts", "/Applications/Imm.app/Contents/locked"};
    for (const QString &file : kept + QStringList{"/Applications/Good.app/Contents/MacOS/good", "/Library/Good/one", "/Applications/Imm.app/Contents/a"})
        QVERIFY(m_volume->writeFile(file));
    makeImmutable("/Applications/Imm.app/Contents/locked");
    QVERIFY(QFile(m_outside->filePath("outside")).open(QIODevice::WriteOnly));
    QVERIFY(m_volume->makeLink("/Applications/Link.app", "/Library/Keep"));
    QVERIFY(m_volume->makeLink("/Applications/Out.app", m_outside->path()));

    const QStringList replies = askAll({request("delete", json({"/Applications/Good.app", path, "/Library/Good"})), forgetMessage("com.x.none")});
    QCOMPARE(replies.size(), 2);
    const QJsonObject reply = QJsonDocument::fromJson(replies[0].toUtf8()).object();
    QCOMPARE(reply.keys(), why.isEmpty() ? QStringList() : QStringList{path});
    QVERIFY2(reply.value(path).toString().contains(why), qPrintable(replies[0]));
    QVERIFY(replies[1].contains("Forgot package"));
    QVERIFY(!present(phys("/Applications/Good.app")) && !present(phys("/Library/Good")));
    QCOMPARE(present(phys("/Applications/Imm.app/Contents/a")), path != "/Applications/Imm.app");
    QVERIFY(!why.isEmpty() || !present(phys(path)));
    for (const QString &file : kept)
        QVERIFY2(present(phys(file)), qPrintable(file));
    QVERIFY(present(m_outside->filePath("outside")));
}

void TestHelperTool::neverRemovesThroughALink_data()
{
    QTest::addColumn<bool>("outside");
    QTest::addColumn<bool>("duringRemoval");
    for (bool during : {false, true})
        for (bool outside : {true, false})
            QTest::addRow("%s, %s", outside ? "out of the volume" : "elsewhere on it", during ? "swapped in mid-removal" : "made before")
                << outside << during;
}

// A folder of the tree is replaced by a link to a target of ten files: made
// before the request, or as soon as the first file of a 20,000-file removal
// goes. Nothing of the target may go.
void TestHelperTool::neverRemovesThroughALink()
{
    QFETCH(bool, outside);
    QFETCH(bool, duringRemoval);
    START_TOOL();
    const int folders = duringRemoval ? 200 : 1;
    const QString target = outside ? m_outside->filePath("Target") : phys("/Library/Target");
    QVERIFY(QDir().mkpath(target) && QDir().mkpath(phys("/Moved")));
    for (int d = 0; d < folders; ++d)
        for (int f = 0; f < 100; ++f)
            QVERIFY(m_volume->writeFile(QStringLiteral("/Applications/Big.app/d%1/f%2").arg(d).arg(f)));
    for (int f = 0; f < 10; ++f)
        QVERIFY(QFile(target + QStringLiteral("/f%1").arg(f)).open(QIODevice::WriteOnly));
    // Relative on the volume, so it leads to the same folder seen from either side of its root.
    const QByteArray link = QFile::encodeName(outside ? target : "../../Library/Target");
    const auto swap = [&] {
        int swapped = 0;
        for (int d = 0; d < folders; ++d) {
            const QByteArray folder = QFile::encodeName(phys("/Applications/Big.app/d%1").arg(d));
            swapped += ::rename(folder, QFile::encodeName(phys("/Moved/d%1").arg(d))) == 0 && ::symlink(link, folder) == 0;
        }
        return swapped;
    };
    if (!duringRemoval) {
        QCOMPARE(swap(), 1);
        const QStringList paths = {"/Applications/Big.app/d0/f1", "/Applications/Big.app/d0/f2"};
        // An absolute link target counts from the volume's root: the link out
        // leads to nothing there, which counts as removed.
        const QJsonObject reply = remove(paths);
        QCOMPARE(reply.keys(), outside ? QStringList() : paths);
        QVERIFY(outside || reply.value(paths[0]).toString().contains("link"));
    } else {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        for (int d = 0; d < folders; ++d)
            QVERIFY(::inotify_add_watch(watch, QFile::encodeName(phys("/Applications/Big.app/d%1").arg(d)), IN_DELETE) >= 0);
        std::atomic<int> swapped = 0;
        std::thread swapper([&] {
            pollfd ready{watch, POLLIN, 0};
            if (::poll(&ready, 1, 60000) == 1)
                swapped = swap();
        });
        const QString reply = ask(request("delete", json({"/Applications/Big.app"})));
        swapper.join();
        ::close(watch);
        QVERIFY2(reply.startsWith('{'), qPrintable(reply));
        QVERIFY2(swapped > 0, "the removal ended before a link could be swapped in");
    }
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 10);
}

void TestHelperTool::kills_data()
{
    QTest::addColumn<QString>("pid");   // "child", "ended" and "tool" stand for those processes
    QTest::addColumn<QString>("expected");   // empty: killed; else a text in the reply
    QTest::newRow("a running process") << "child" << "";
    QTest::newRow("an ended process") << "ended" << "errno 3";
    QTest::newRow("the tool itself") << "tool" << "own process";
    QTest::newRow("pid 1") << "1" << "first process";
    QTest::newRow("pid 0") << "0" << "process 0";
    QTest::newRow("negative") << "-5" << "not decimal";
    QTest::newRow("not a number") << "abc" << "not decimal";
}

void TestHelperTool::kills()
{
    QFETCH(QString, pid);
    QFETCH(QString, expected);
    START_TOOL();
    QProcess process;
    process.start(pid == "ended" ? "true" : "sleep", {"600"});
    QVERIFY(process.waitForStarted());
    const QString sent = pid == "child" || pid == "ended" ? QString::number(process.processId())
                       : pid == "tool" ? QString::number(m_tool.processId()) : pid;
    if (pid == "ended")
        QVERIFY(process.waitForFinished());
    const QJsonObject reply = QJsonDocument::fromJson(ask(request("kill", json({sent}))).toUtf8()).object();
    QCOMPARE(reply.keys(), expected.isEmpty() ? QStringList() : QStringList{sent});
    QVERIFY2(reply.value(sent).toString().contains(expected), qPrintable(reply.value(sent).toString()));
    QCOMPARE(reply.value(sent).toString().contains("errno 3"), expected == "errno 3");
    if (pid == "child") {
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    }
    process.kill();
    process.waitForFinished();
}

void TestHelperTool::forgets_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QStringList>("files");   // made in the receipts folder
    QTest::addColumn<bool>("lockedBill");
    QTest::addColumn<bool>("forgotten");
    QTest::newRow("both files") << "com.x.both" << QStringList{"com.x.both.plist", "com.x.both.bom"} << false << true;
    QTest::newRow("already gone") << "com.x.none" << QStringList() << false << true;
    QTest::newRow("an immutable bill") << "com.x.lock" << QStringList{"com.x.lock.plist", "com.x.lock.bom"} << true << false;
    QTest::newRow("a slash") << "sub/com.y" << QStringList() << false << false;
    QTest::newRow("climbing") << "../y" << QStringList() << false << false;
    QTest::newRow("dot dot") << ".." << QStringList() << false << false;
}

void TestHelperTool::forgets()
{
    QFETCH(QString, identifier);
    QFETCH(QStringList, files);
    QFETCH(bool, lockedBill);
    QFETCH(bool, forgotten);
    START_TOOL();
    const QString receipts = "/private/var/db/receipts/";
    const QStringList kept = {"/private/var/db/y.plist", receipts + "sub/com.y.plist", receipts + "com.x.other.bom"};
    for (const QString &file : kept)
        QVERIFY(m_volume->writeFile(file));
    for (const QString &file : files)
        QVERIFY(m_volume->writeFile(receipts + file));
    if (lockedBill)
        makeImmutable(receipts + files.last());
    const QString reply = ask(forgetMessage(identifier));
    QCOMPARE(reply.contains("Forgot package"), forgotten);
    QVERIFY(reply != "<no reply>");
    for (const QString &file : files)
        QCOMPARE(present(phys(receipts + file)), lockedBill && file.endsWith(".bom"));
    for (const QString &file : kept)
        QVERIFY(present(phys(file)));
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
    START_TOOL();
    QVERIFY(m_volume->writeFile("/Applications/Keep.app/file"));
    const int bad = Volume::connectToSocket(socketPath());
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
