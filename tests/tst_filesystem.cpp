// The file-system questions the program asks, on a volume in a temporary
// folder; every path handed to kestrum is logical. How the volume door cleans
// paths and keeps links inside the root is tested in tst_volume; here each
// question is asked of the same small tree, escape link included.

#include "kestrum/FileSystem.h"
#include "kestrum/Task.h"
#include "support/VolumeFixture.h"

#include <QFileInfo>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace kestrum;

namespace {

constexpr qint64 kStatusNotWritten = -12345;

QStringList sorted(const std::optional<QStringList> &list)
{
    QStringList out = list.value_or(QStringList());
    out.sort();
    return out;
}

// Bookmark data as a Finder alias file holds it: the header, the items,
// then one table of contents with the path's components and the volume.
QByteArray bookmark(const QStringList &components, const QByteArray &volume)
{
    const auto le = [](quint32 value) {
        value = qToLittleEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&value), 4);
    };
    QByteArray body(4, 0), offsets;
    const auto item = [&](quint32 type, const QByteArray &bytes) {
        const quint32 at = quint32(body.size());
        body += le(quint32(bytes.size())) + le(type) + bytes + QByteArray((4 - bytes.size() % 4) % 4, 0);
        return at;
    };
    for (const QString &component : components)
        offsets += le(item(0x0101, component.toUtf8()));
    const quint32 path = item(0x0601, offsets), mounted = item(0x0101, volume), table = quint32(body.size());
    body += le(36) + le(0xfffffffe) + le(1) + le(0) + le(2);   // its length less 8, magic, id, next, entries
    body += le(0x1004) + le(path) + le(0) + le(0x2002) + le(mounted) + le(0);
    body.replace(0, 4, le(table));
    return "book" + le(quint32(48 + body.size())) + le(0x10040000) + le(48) + QByteArray(32, 0) + body;
}

} // namespace

class TestFileSystem : public QObject
{
    Q_OBJECT

    QTemporaryDir m_outside;   // a host folder beside the volume, holding secret.txt
    std::unique_ptr<VolumeFixture> m_volume;

private slots:
    void init()
    {
        QFile secret(m_outside.filePath(QStringLiteral("secret.txt")));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("host") == 4);
        m_volume = std::make_unique<VolumeFixture>();
        const VolumeFixture &v = *m_volume;
        QVERIFY(v.writeFile("/dir/ten.txt", QByteArray(10, 'x')) && v.writeFile("/dir/sub/five.txt", "55555")
                && v.writeFile("/dir/.hidden", "hhh") && v.writeFile("~/notes.txt", QByteArray(10, 'n')));
        QVERIFY(v.makeLink("/dir/link", "sub") && v.makeLink("/dir/dangling", "gone") && v.makeLink("/linked-dir", "dir")
                && v.makeLink("/loop-a", "loop-b") && v.makeLink("/loop-b", "loop-a") && v.makeFolder("/empty"));
        QVERIFY(v.makeLink("/escape", QStringLiteral("../../../../../../../../..") + m_outside.path()));
        QCOMPARE(::mkfifo(QFile::encodeName(v.physical("/fifo")).constData(), 0600), 0);
        // The kernel itself would follow the escape out of the root: the checks have teeth.
        QVERIFY(QFileInfo::exists(v.physical("/escape/secret.txt")));
    }

    void cleanup() { m_volume.reset(); }

    void items_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<quint64>("size");   // the item's own, a link not followed

        QTest::newRow("file") << "/dir/ten.txt" << true << quint64(10);
        QTest::newRow("file through a linked folder") << "/linked-dir/ten.txt" << true << quint64(10);
        QTest::newRow("file in the home folder") << "~/notes.txt" << true << quint64(10);
        QTest::newRow("link: its own length") << "/dir/link" << true << quint64(3);
        QTest::newRow("dangling link") << "/dir/dangling" << false << quint64(4);
        QTest::newRow("link loop") << "/loop-a" << false << quint64(6);
        QTest::newRow("missing") << "/nothing" << false << quint64(0);
        QTest::newRow("below a file") << "/dir/ten.txt/x" << false << quint64(0);
        QTest::newRow("empty path") << "" << false << quint64(0);
        QTest::newRow("fifo") << "/fifo" << true << quint64(0);
        QTest::newRow("host file behind the escape") << "/escape/secret.txt" << false << quint64(0);
    }

    void items()
    {
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QFETCH(quint64, size);
        QCOMPARE(fileExists(path), exists);
        QCOMPARE(fileSize(path), size);
    }

    void aliases_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("alias");
        QTest::addColumn<QString>("target");
        QTest::newRow("link") << "/dir/link" << true << "/dir/sub";
        QTest::newRow("no alias") << "/dir/ten.txt" << false << "";
        QTest::newRow("Finder alias") << "/alias" << true << "/dir/sub/five.txt";
        QTest::newRow("Finder alias to another disk") << "/alias-other" << true << "";
        QTest::newRow("Finder alias climbing") << "/alias-up" << true << "";
        QTest::newRow("cut off") << "/alias-cut" << false << "";
    }

    void aliases()
    {
        QFETCH(QString, path);
        QFETCH(bool, alias);
        QFETCH(QString, target);
        const VolumeFixture &v = *m_volume;
        const QByteArray other = bookmark({"dir", "ten.txt"}, "/Volumes/Other");
        QVERIFY(v.writeFile("/alias", bookmark({"linked-dir", "sub", "five.txt"}, "/"))   // resolved on the volume
                && v.writeFile("/alias-other", other) && v.writeFile("/alias-up", bookmark({"..", "dir"}, "/"))
                && v.writeFile("/alias-cut", other.left(60)));
        QCOMPARE(fileIsAlias(path), alias);
        QCOMPARE(fileAliasTarget(path), target);
    }

    void folderSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint64>("size");

        // Files, the hidden one and those below "sub", plus the two links' own
        // lengths: "sub" is never entered through "link".
        QTest::newRow("folder") << "/dir" << quint64(10 + 5 + 3 + 3 + 4);
        QTest::newRow("trailing slash") << "/dir/" << quint64(25);
        QTest::newRow("reached through a link") << "/linked-dir" << quint64(25);
        QTest::newRow("empty folder") << "/empty" << quint64(0);
        QTest::newRow("a file") << "/dir/ten.txt" << quint64(0);
        QTest::newRow("missing") << "/nothing" << quint64(0);
        QTest::newRow("host folder behind the escape") << "/escape" << quint64(0);
    }

    void folderSizes()
    {
        QFETCH(QString, path);
        QFETCH(quint64, size);
        QCOMPARE(directorySize(path), size);
    }

    void listings()
    {
        const QStringList names{".hidden", "dangling", "link", "sub", "ten.txt"};
        QCOMPARE(sorted(dirContents(QStringLiteral("/dir"))), names);
        QCOMPARE(sorted(dirContents(QStringLiteral("/linked-dir"))), names);
        // The link to "sub" is listed but not entered.
        QCOMPARE(sorted(dirContentsRecursive(QStringLiteral("/dir"))),
                 QStringList({".hidden", "dangling", "link", "sub", "sub/five.txt", "ten.txt"}));
        const std::optional<QStringList> empty = dirContents(QStringLiteral("/empty"));
        QVERIFY(empty.has_value() && empty->isEmpty());
        for (const char *unlistable : {"/dir/ten.txt", "/nothing", "/dir/dangling", "", "/escape"}) {
            QVERIFY2(!dirContents(QLatin1String(unlistable)), unlistable);
            QVERIFY2(!dirContentsRecursive(QLatin1String(unlistable)), unlistable);
        }
    }

    void contentsAreRegularFilesOnly()
    {
        QCOMPARE(contents(QStringLiteral("/linked-dir/ten.txt")), QByteArray(10, 'x'));
        QCOMPARE(contents(QStringLiteral("~/notes.txt"), 10), QByteArray(10, 'n'));
        QCOMPARE(contents(fileURL(QStringLiteral("/dir/sub/five.txt"))), QByteArray("55555"));
        // A fifo would block the reader; a file over the limit is not read at all.
        for (const char *refused : {"/dir/ten.txt", "/fifo", "/dir", "/nothing", "/escape/secret.txt"})
            QVERIFY2(!contents(QLatin1String(refused), 9), refused);
        QVERIFY(!contents(QUrl(QStringLiteral("https://example.com/dir/ten.txt"))));
        QVERIFY(!contents(QUrl(QStringLiteral("/dir/ten.txt"))));
    }

    void homeAndFileUrls()
    {
        QCOMPARE(expanded(QStringLiteral("~/Library/x")), QStringLiteral("/Users/tester/Library/x"));
        QCOMPARE(expanded(QStringLiteral("~other/x")), QStringLiteral("~other/x"));
        QCOMPARE(fileURL(QStringLiteral("~/a b")).toString(), QStringLiteral("file:///Users/tester/a b"));
        QVERIFY(fileURL(QString()).isEmpty());
    }

    void runningTools_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<bool>("ran");   // a text comes back
        QTest::addColumn<QString>("output");
        QTest::addColumn<qint64>("status");

        const QString sh = QStringLiteral("/bin/sh");
        QTest::newRow("missing tool") << QStringList({"/nonexistent/tool"}) << false << "" << kStatusNotWritten;
        QTest::newRow("no search along PATH") << QStringList({"sh", "-c", "echo hi"}) << false << ""
                                              << kStatusNotWritten;
        QTest::newRow("empty list") << QStringList() << false << "" << kStatusNotWritten;
        QTest::newRow("both streams in the order written")
            << QStringList({sh, "-c", "echo out; echo err >&2; echo out2"}) << true << "out\nerr\nout2\n" << qint64(0);
        QTest::newRow("exit status with output") << QStringList({sh, "-c", "echo failed >&2; exit 42"}) << true
                                                 << "failed\n" << qint64(42);
        QTest::newRow("ended by a signal") << QStringList({sh, "-c", "kill -9 $$"}) << true << "" << qint64(9);
        QTest::newRow("UTF-8 cut short") << QStringList({sh, "-c", "printf 'x\\342\\202'"}) << false << "" << qint64(0);
        QTest::newRow("valid UTF-8") << QStringList({sh, "-c", "printf 'caf\\303\\251 \\342\\202\\254'"}) << true
                                     << QString::fromUtf8("café €") << qint64(0);
        QTest::newRow("arguments as they are")
            << QStringList({sh, "-c", "printf '%s|' \"$@\"", "sh", "a b", "*", "$HOME"}) << true << "a b|*|$HOME|"
            << qint64(0);
        QTest::newRow("nothing on standard input") << QStringList({sh, "-c", "cat; echo done"}) << true << "done\n"
                                                   << qint64(0);
        // The child writes once the tool has ended (a zombie until it is reaped).
        QTest::newRow("output of a child outliving the tool")
            << QStringList({sh, "-c",
                            "(until grep -qs '^State:.Z' /proc/$$/status || ! [ -e /proc/$$ ]; do :; done; echo late) &"
                            " echo early"})
            << true << "early\nlate\n" << qint64(0);
    }

    void runningTools()
    {
        QFETCH(QStringList, command);
        QFETCH(bool, ran);
        QFETCH(QString, output);
        QFETCH(qint64, status);

        qint64 terminationStatus = kStatusNotWritten;
        const std::optional<QString> text = runAsTask(command, &terminationStatus);
        QCOMPARE(text.has_value(), ran);
        if (ran)
            QCOMPARE(*text, output);
        QCOMPARE(terminationStatus, status);
        QCOMPARE(runAsTask(command).has_value(), ran);   // the status pointer is optional
    }
};

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
