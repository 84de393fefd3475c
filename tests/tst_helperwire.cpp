#include "platform/Volume.h"
#include "helperwire/HelperReply.h"
#include "helperwire/HelperRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace helperwire;

namespace {

QByteArray u32(quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); }
QByteArray str(const QByteArray &bytes) { return u32(bytes.size()) + bytes; }
QByteArray wrap(const QByteArray &payload) { return u32(payload.size()) + payload; }
QString json(const QStringList &items) { return QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact); }
const QStringList kPackages{"com.x.pkg"};
Message msg(const QString &type, const QString &request, const QString &packages = json(kPackages))
{
    return {{"type", type}, {"request", request}, {"packages", packages}};
}

QStringList accepted(const HelperRequest &r)
{
    QStringList out;
    for (const auto &path : r.paths) out << path.toString();
    for (qint64 pid : r.pids) out << QString::number(pid);
    if (r.type == RequestType::Forget) out << r.identifier;
    return out;
}

} // namespace

class TestHelperWire : public QObject
{
    Q_OBJECT
private slots:
    void roundTrips();
    void replies();
    void malformedFrames_data();
    void malformedFrames();
    void requests_data();
    void requests();
};

void TestHelperWire::roundTrips()
{
    const QList<Message> messages = {{}, {{"", ""}, {"k\u00e9y", "\uFEFFv\U0001F600"}},
        deleteMessage({platform::volumePath(u"/Applications/A b.app").value()}, kPackages), killMessage({501, 502}, kPackages),
        forgetMessage("com.x.y", {"com.x.y", "com.x.z"}), deleteEmptyFolderMessage({platform::volumePath(u"/L/E").value()}, kPackages)};
    QByteArray stream;
    for (const Message &m : messages) stream += encodeFrame(m).value();
    // Every split of the stream into two chunks yields the same messages.
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        FrameDecoder decoder;
        QList<Message> got = decoder.feed(QByteArrayView(stream).first(cut));
        got += decoder.feed(QByteArrayView(stream).sliced(cut));
        QCOMPARE(got, messages);
        QVERIFY(!decoder.failed() && !decoder.hasPartialFrame());
    }
    QVERIFY(!encodeFrame({{"a", QString::fromUtf8("b\0c", 3)}}));
    const auto parsed = std::get<HelperRequest>(parseRequest(killMessage({501, 502}, kPackages)));
    QCOMPARE(parsed.pids, (QList<qint64>{501, 502}));
    QCOMPARE(parsed.packages, kPackages);
    QCOMPARE(std::get<HelperRequest>(parseRequest(messages[5])).type, RequestType::DeleteEmptyFolder);
    QCOMPARE(messages[3].value("request"), QString(R"(["501","502"])"));
}

// Every outcome survives the trip, and text that is no reply is none.
void TestHelperWire::replies()
{
    using Kind = ItemOutcome::Kind;
    // What went is a letter alone; what did not, a letter and its details.
    const Reply reply{{{"", Kind::Removed, "", 0}, {"", Kind::Gone, "", 0}, {"/c", Kind::Refused, "no package lists it", 0},
                       {"17", Kind::Failed, "Operation not permitted", 1}, {"", Kind::Removed, "", 0}},
                      forgotText("com.x")};
    QCOMPARE(decodeReply(encodeReply(reply)), reply);
    QVERIFY(encodeReply(reply).startsWith(R"({"failures":[{"item":"/c")"));
    QVERIFY(encodeReply(reply).contains(R"("outcomes":"rgxfr")"));
    QCOMPARE(reply.failures(), reply.items.mid(2, 2));
    QCOMPARE(reply.text, "Forgot package 'com.x' on '/'.");
    for (const char *bad : {"", "{}", "[]", R"({"outcomes":"r"})", R"({"outcomes":"q","failures":[]})",
                            R"({"outcomes":"f","failures":[]})", R"({"outcomes":"r","failures":[{"item":"/a","reason":""}]})",
                            R"({"outcomes":"x","failures":[{"item":1,"reason":""}]})", R"({"outcomes":"","failures":[],"text":2})"})
        QVERIFY2(!decodeReply(QString::fromLatin1(bad)), bad);
}

void TestHelperWire::malformedFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    const QByteArray good = u32(2) + str("type") + str("delete") + str("request") + str("[\"/a\"]");
    // A frame that ends before its payload does is refused wherever it ends.
    for (qsizetype cut = 0; cut < good.size(); ++cut)
        QTest::addRow("cut at %d", int(cut)) << wrap(good.first(cut)) << "past the end";
    QTest::newRow("over the cap") << u32(MaxPayloadBytes + 1) << "over the cap";
    QTest::newRow("huge count") << wrap(u32(0xffffffff) + str("a") + str("b")) << "entry count";
    QTest::newRow("huge length") << wrap(u32(1) + u32(0xffffffff) + str("b")) << "past the end";
    QTest::newRow("bad UTF-8") << wrap(u32(1) + str("\xff") + str("b")) << "UTF-8";
    QTest::newRow("overlong") << wrap(u32(1) + str("a") + str("\xc0\xaf")) << "UTF-8";
    QTest::newRow("surrogate") << wrap(u32(1) + str("a") + str("\xed\xa0\x80")) << "UTF-8";
    QTest::newRow("NUL") << wrap(u32(1) + str(QByteArray("a\0b", 3)) + str("b")) << "NUL";
    QTest::newRow("duplicate") << wrap(u32(2) + str("a") + str("b") + str("a") + str("c")) << "twice";
    QTest::newRow("trailing") << wrap(u32(1) + str("a") + str("b") + "x") << "follow";
}

void TestHelperWire::malformedFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    FrameDecoder decoder;
    QVERIFY(decoder.feed(bytes).isEmpty());
    QVERIFY2(decoder.error().contains(error), qPrintable(decoder.error()));
    // A failed decoder stays failed, even for a good frame.
    QVERIFY(decoder.feed(encodeFrame(forgetMessage("a", {"a"})).value()).isEmpty());
    QVERIFY(decoder.failed());
}

void TestHelperWire::requests_data()
{
    QTest::addColumn<Message>("message");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("accepted");
    QTest::addColumn<QStringList>("refused");
    const QString longName = "Applications/" + QString(4082, 'a');   // 4096 bytes with the "/"
    QTest::newRow("extra key") << Message{{"type", "forget"}, {"request", "a"}, {"packages", "[\"a\"]"}, {"reply", ""}} << "exactly" << QStringList() << QStringList();
    QTest::newRow("no packages") << Message{{"type", "forget"}, {"request", "a"}} << "exactly" << QStringList() << QStringList();
    QTest::newRow("packages not an array") << msg("kill", "[]", "com.x.pkg") << "packages" << QStringList() << QStringList();
    QTest::newRow("no package named") << msg("kill", "[]", "[]") << "packages" << QStringList() << QStringList();
    QTest::newRow("a bad package") << msg("kill", "[]", json({"com.x.pkg", "../x"})) << "\"../x\"" << QStringList() << QStringList();
    QTest::newRow("unknown type") << msg("run", "ls") << "unknown" << QStringList() << QStringList();
    QTest::newRow("delete not JSON") << msg("delete", "/a") << "JSON array" << QStringList() << QStringList();
    QTest::newRow("kill numbers") << msg("kill", "[501]") << "JSON array" << QStringList() << QStringList();
    const QStringList badPaths = {"a/b", "", "/a//b", "/a/./b", "/a/../b", "/a/", QString::fromUtf8("/a\0b", 4), "/a\x01", "/a\u0085",
        "/" + longName + "a", "/", "/system", "/Library", "/tmp", "/private/var", "/Users/bob", "/users/bob/library", "/Users", "/Developer", "/mach_kernel"};
    QTest::newRow("delete") << msg("delete", json(QStringList{"/Applications/X.app", "/Users/bob/Library/Caches", "/etc/hosts", "/" + longName, "/Library/X/Icon\r"} + badPaths))
        << "" << QStringList{"/Applications/X.app", "/Users/bob/Library/Caches", platform::volumePath(u"/etc/hosts").value().toString(), "/" + longName, "/Library/X/Icon\r"} << badPaths;
    const QStringList badPids = {"1", "0", "-5", "12a", "", "0501", "4194305", "99999999999999999999", "+7"};
    QTest::newRow("kill") << msg("kill", json(QStringList{"501", "2", "4194304"} + badPids)) << "" << QStringList{"501", "2", "4194304"} << badPids;
    QTest::newRow("forget") << msg("forget", "com.x.pkg") << "" << QStringList{"com.x.pkg"} << QStringList();
    QTest::newRow("forget 255") << msg("forget", QString(255, 'a')) << "" << QStringList{QString(255, 'a')} << QStringList();
    for (const QString &bad : {QString(), QString(256, 'a'), QString("a/b"), QString("."), QString(".."), QString::fromUtf8("a\0b", 3), QString("a\n")})
        QTest::addRow("forget %s", qPrintable(bad.left(8))) << msg("forget", bad) << "forget:" << QStringList() << QStringList();
}

void TestHelperWire::requests()
{
    QFETCH(Message, message);
    QFETCH(QString, error);
    QFETCH(QStringList, accepted);
    QFETCH(QStringList, refused);
    const ParseResult result = parseRequest(message);
    if (!error.isEmpty()) {
        QVERIFY(std::holds_alternative<QString>(result));
        QVERIFY2(std::get<QString>(result).contains(error), qPrintable(std::get<QString>(result)));
        return;
    }
    const HelperRequest request = std::get<HelperRequest>(result);
    QCOMPARE(::accepted(request), accepted);
    refused.sort();
    QCOMPARE(request.refused.keys(), refused);
}

QTEST_GUILESS_MAIN(TestHelperWire)
#include "tst_helperwire.moc"
