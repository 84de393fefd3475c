// The file-system vocabulary on a volume built in a temporary folder: path
// questions, listings and sizes, free names, atomic writes, the restricted
// flag, running tools and observing folders. Every path handed to kestrum is
// logical; the fixtures are written physically below the volume root.

#include "kestrum/DirectoryObserver.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Task.h"
#include "platform/FileFlags.h"
#include "platform/Volume.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace kestrum;
using platform::Volume;

namespace {

constexpr qint64 kStatusNotWritten = -12345;

QStringList sorted(const std::optional<QStringList> &list)
{
    QStringList out = list.value_or(QStringList());
    out.sort();
    return out;
}

QStringList sortedUrls(const std::optional<QList<QUrl>> &urls)
{
    QStringList out;
    for (const QUrl &url : urls.value_or(QList<QUrl>()))
        out.append(url.toString());
    out.sort();
    return out;
}

bool setImmutable(const QString &physical, bool on)
{
    return QProcess::execute(QStringLiteral("chattr"),
                             {on ? QStringLiteral("+i") : QStringLiteral("-i"), physical}) == 0;
}

} // namespace

class TestFileSystem : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_root;          // the physical folder standing for "/"
    QStringList m_immutable; // physical items given the immutable flag, cleared in cleanup()

    QString phys(const QString &logical) const { return m_root + logical; }

    // Builds the items named: "path/" a folder, "path->target" a symbolic
    // link, "path|" a fifo, anything else a file of the given size (10 bytes
    // unless "path=N" says otherwise).
    void build(const QStringList &items)
    {
        for (const QString &item : items) {
            if (item.contains(QLatin1String("->"))) {
                const QString path = item.section(QLatin1String("->"), 0, 0);
                QVERIFY(QDir().mkpath(QFileInfo(phys(path)).path()));
                QVERIFY2(QFile::link(item.section(QLatin1String("->"), 1), phys(path)), qPrintable(item));
            } else if (item.endsWith(QLatin1Char('/'))) {
                QVERIFY(QDir().mkpath(phys(item)));
            } else if (item.endsWith(QLatin1Char('|'))) {
                const QString path = item.chopped(1);
                QVERIFY(QDir().mkpath(QFileInfo(phys(path)).path()));
                QCOMPARE(::mkfifo(QFile::encodeName(phys(path)).constData(), 0600), 0);
            } else {
                const QString path = item.section(QLatin1Char('='), 0, 0);
                const int size = item.contains(QLatin1Char('=')) ? item.section(QLatin1Char('='), 1).toInt() : 10;
                write(path, QByteArray(size, 'x'));
            }
        }
    }

    void write(const QString &logical, const QByteArray &data)
    {
        QVERIFY(QDir().mkpath(QFileInfo(phys(logical)).path()));
        QFile file(phys(logical));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), data.size());
    }

    void buildItems()
    {
        build({QStringLiteral("/Users/tester/notes.txt"), QStringLiteral("/dir/ten.txt"),
               QStringLiteral("/dir/sub/five.txt=5"), QStringLiteral("/dir/link-to-ten->ten.txt"),
               QStringLiteral("/dangling->gone.txt"), QStringLiteral("/loop-a->loop-b"),
               QStringLiteral("/loop-b->loop-a"), QStringLiteral("/linked-dir->dir"),
               QStringLiteral("/abs-link->/dir/ten.txt"), QStringLiteral("/fifo|")});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_root = m_tmp.filePath(QStringLiteral("vol"));
        qputenv("DORVANE_TASK_PROBE", "inherited");
    }

    void init()
    {
        QDir(m_root).removeRecursively();
        QVERIFY(QDir().mkpath(m_root));
        Volume::configure(m_root, QStringLiteral("/Users/tester"));
    }

    // Runs after every test function, failed or skipped ones too: an item
    // left immutable could not be removed, not even by root.
    void cleanup()
    {
        for (const QString &physical : std::as_const(m_immutable)) {
            if (!setImmutable(physical, false))
                qWarning("could not clear the immutable flag of %s", qPrintable(physical));
        }
        m_immutable.clear();
    }

    void itemQuestions_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("alias");
        QTest::addColumn<qint64>("size"); // -1: the folder's own entry, as lstat gives it

        QTest::newRow("plain file") << "/dir/ten.txt" << true << false << qint64(10);
        QTest::newRow("file through a linked folder") << "/linked-dir/ten.txt" << true << false << qint64(10);
        QTest::newRow("file in the home folder") << "~/notes.txt" << true << false << qint64(10);
        QTest::newRow("link to a file: its own length") << "/dir/link-to-ten" << true << true << qint64(7);
        QTest::newRow("absolute link counts from the volume root") << "/abs-link" << true << true << qint64(12);
        QTest::newRow("dangling link") << "/dangling" << false << true << qint64(8);
        QTest::newRow("link loop") << "/loop-a" << false << true << qint64(6);
        QTest::newRow("missing") << "/nothing" << false << false << qint64(0);
        QTest::newRow("below a file") << "/dir/ten.txt/x" << false << false << qint64(0);
        QTest::newRow("empty path") << "" << false << false << qint64(0);
        QTest::newRow("fifo") << "/fifo" << true << false << qint64(0);
        QTest::newRow("folder") << "/dir" << true << false << qint64(-1);
        QTest::newRow("folder with trailing slash") << "/dir/" << true << false << qint64(-1);
    }

    void itemQuestions()
    {
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QFETCH(bool, alias);
        QFETCH(qint64, size);
        buildItems();
        if (size < 0) {
            struct stat st;
            QCOMPARE(::lstat(QFile::encodeName(phys(QStringLiteral("/dir"))).constData(), &st), 0);
            QVERIFY(st.st_size > 0);
            size = st.st_size;
        }
        QCOMPARE(fileExists(path), exists);
        QCOMPARE(fileIsAlias(path), alias);
        QCOMPARE(fileSize(path), quint64(size));
        QCOMPARE(fileIsRestricted(path), false);
    }

    void aliasTargets_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("target");

        QTest::newRow("relative link") << "/dir/link-to-ten" << "/dir/ten.txt";
        QTest::newRow("absolute link stays in the volume") << "/abs-link" << "/dir/ten.txt";
        QTest::newRow("link to a folder") << "/linked-dir" << "/dir";
        QTest::newRow("link inside a linked folder") << "/linked-dir/link-to-ten" << "/dir/ten.txt";
        QTest::newRow("no link answers itself") << "/dir/ten.txt" << "/dir/ten.txt";
        QTest::newRow("dangling link") << "/dangling" << "";
        QTest::newRow("link loop") << "/loop-a" << "";
        QTest::newRow("missing") << "/nothing" << "";
    }

    void aliasTargets()
    {
        QFETCH(QString, path);
        QFETCH(QString, target);
        buildItems();
        QCOMPARE(kestrum::fileAliasTarget(path), target);
    }

    void folderSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint64>("size");

        QTest::newRow("a file and a subfolder") << "/tree" << quint64(15);
        QTest::newRow("trailing slash") << "/tree/" << quint64(15);
        QTest::newRow("reached through a link") << "/tree-link" << quint64(15);
        // "/big.bin" is 8 bytes long as a link text; the 100000-byte target
        // and the linked folder's 15 bytes never count.
        QTest::newRow("links count with their own length") << "/withlinks" << quint64(8 + 5);
        QTest::newRow("hidden and deep entries") << "/deep" << quint64(3 + 4);
        QTest::newRow("a file") << "/tree/ten.txt" << quint64(0);
        QTest::newRow("missing") << "/nothing" << quint64(0);
        QTest::newRow("empty folder") << "/empty" << quint64(0);
    }

    void folderSizes()
    {
        QFETCH(QString, path);
        QFETCH(quint64, size);
        build({QStringLiteral("/tree/ten.txt"), QStringLiteral("/tree/sub/five.txt=5"),
               QStringLiteral("/tree-link->tree"), QStringLiteral("/big.bin=100000"),
               QStringLiteral("/withlinks/big-link->/big.bin"), QStringLiteral("/withlinks/tree->/tree"),
               QStringLiteral("/deep/.hidden=3"), QStringLiteral("/deep/a/b/c/d.txt=4"),
               QStringLiteral("/empty/")});
        QCOMPARE(kestrum::directorySize(path), size);
        QCOMPARE(kestrum::directorySize(fileURL(path)), size);
    }

    void listings()
    {
        build({QStringLiteral("/tree/ten.txt"), QStringLiteral("/tree/sub/five.txt=5"),
               QStringLiteral("/tree/.hidden"), QStringLiteral("/tree/link->sub"),
               QStringLiteral("/tree/dangling->gone"), QStringLiteral("/tree-link->tree"),
               QStringLiteral("/empty/"), QStringLiteral("/Users/tester/notes.txt")});
        const QStringList names = {QStringLiteral(".hidden"), QStringLiteral("dangling"),
                                   QStringLiteral("link"), QStringLiteral("sub"), QStringLiteral("ten.txt")};
        QCOMPARE(sorted(kestrum::dirContents(QStringLiteral("/tree"))), names);
        QCOMPARE(sorted(kestrum::dirContents(QStringLiteral("/tree-link"))), names);

        // The link to "sub" is listed but not entered.
        QCOMPARE(sorted(dirContentsRecursive(QStringLiteral("/tree"))),
                 QStringList({".hidden", "dangling", "link", "sub", "sub/five.txt", "ten.txt"}));
        QCOMPARE(sorted(dirContentsAbsolute(QStringLiteral("/tree/"))),
                 QStringList({"/tree/.hidden", "/tree/dangling", "/tree/link", "/tree/sub", "/tree/ten.txt"}));
        QCOMPARE(sorted(dirContentsRecursiveAbsolute(QStringLiteral("/tree"))),
                 QStringList({"/tree/.hidden", "/tree/dangling", "/tree/link", "/tree/sub",
                              "/tree/sub/five.txt", "/tree/ten.txt"}));
        // Absolute entries are built on the path as given, tilde and all.
        QCOMPARE(dirContentsAbsolute(QStringLiteral("~")), QStringList({"~/notes.txt"}));
        QVERIFY(fileExists(QStringLiteral("~/notes.txt")));

        const std::optional<QStringList> empty = kestrum::dirContents(QStringLiteral("/empty"));
        QVERIFY(empty.has_value());
        QVERIFY(empty->isEmpty());
        for (const char *unlistable : {"/tree/ten.txt", "/nothing", "/tree/dangling", ""}) {
            QVERIFY2(!kestrum::dirContents(QLatin1String(unlistable)), unlistable);
            QVERIFY2(!dirContentsRecursive(QLatin1String(unlistable)), unlistable);
            QVERIFY2(!dirContentsAbsolute(QLatin1String(unlistable)), unlistable);
            QVERIFY2(!dirContentsRecursiveAbsolute(QLatin1String(unlistable)), unlistable);
        }
    }

    // Links inside the volume that would lead out of it on the real disk are
    // followed the way the Mac would follow them on that volume: "/" is the
    // volume root and ".." stops there. A marker outside the root is never seen.
    void neverLeavesTheVolume()
    {
        const QString outside = m_tmp.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
        QFile marker(outside + QStringLiteral("/marker.txt"));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        QCOMPARE(marker.write(QByteArray(100000, 'm')), 100000);
        marker.close();
        build({QStringLiteral("/escape-abs->/"), QStringLiteral("/escape-up->../../.."),
               QStringLiteral("/escape-rel->../outside"), QStringLiteral("/box/escape-up->../../outside")});

        // The kernel itself would follow these out of the root: the test has teeth.
        QVERIFY(QFileInfo::exists(phys(QStringLiteral("/escape-rel/marker.txt"))));
        QVERIFY(QFileInfo::exists(phys(QStringLiteral("/box/escape-up/marker.txt"))));

        for (const char *path : {"/escape-rel/marker.txt", "/box/escape-up/marker.txt",
                                 "/escape-up/outside/marker.txt", "/../outside/marker.txt",
                                 "/escape-abs/../../outside/marker.txt"}) {
            const QString logical = QLatin1String(path);
            QVERIFY2(!fileExists(logical), path);
            QCOMPARE(fileSize(logical), quint64(0));
            QVERIFY2(!contents(logical), path);
        }
        QCOMPARE(kestrum::fileAliasTarget(QStringLiteral("/escape-rel")), QString());
        QCOMPARE(kestrum::fileAliasTarget(QStringLiteral("/escape-up")), QStringLiteral("/"));
        QCOMPARE(kestrum::fileAliasTarget(QStringLiteral("/escape-abs")), QStringLiteral("/"));

        const QStringList top = {"box", "escape-abs", "escape-rel", "escape-up"};
        QCOMPARE(sorted(kestrum::dirContents(QStringLiteral("/"))), top);
        QCOMPARE(sorted(kestrum::dirContents(QStringLiteral("/escape-up"))), top);
        QCOMPARE(sorted(kestrum::dirContents(QStringLiteral("/escape-abs"))), top);
        QVERIFY(!kestrum::dirContents(QStringLiteral("/escape-rel")));
        QVERIFY(!kestrum::dirContents(QStringLiteral("/box/escape-up")));
        QCOMPARE(sorted(dirContentsRecursive(QStringLiteral("/"))),
                 QStringList({"box", "box/escape-up", "escape-abs", "escape-rel", "escape-up"}));

        // Only the four links' own lengths: "/", "../../..", "../outside", "../../outside".
        QCOMPARE(kestrum::directorySize(QStringLiteral("/")), quint64(1 + 8 + 10 + 13));
        QCOMPARE(kestrum::directorySize(QStringLiteral("/escape-up")), quint64(1 + 8 + 10 + 13));
        QCOMPARE(kestrum::directorySize(QStringLiteral("/escape-rel")), quint64(0));

        setContents(QStringLiteral("/escape-rel/new.txt"), "x");
        QVERIFY(!isWriteablePath(QStringLiteral("/escape-rel/probe")));
        QCOMPARE(sorted(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)),
                 QStringList({"marker.txt"}));
        QCOMPARE(stringByResolvingSymlinksInPathFixed(QStringLiteral("/escape-up/x")), QStringLiteral("/x"));
    }

    void freeNames_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");

        QTest::newRow("free path") << QStringList() << "/f/a.txt" << "/f/a.txt";
        QTest::newRow("taken") << QStringList({"/f/a.txt"}) << "/f/a.txt" << "/f/a-0.txt";
        QTest::newRow("first candidate taken") << QStringList({"/f/a.txt", "/f/a-0.txt"}) << "/f/a.txt"
                                               << "/f/a-1.txt";
        QTest::newRow("no extension") << QStringList({"/f/name"}) << "/f/name" << "/f/name-0.";
        QTest::newRow("last extension only") << QStringList({"/f/arch.tar.gz"}) << "/f/arch.tar.gz"
                                             << "/f/arch.tar-0.gz";
        QTest::newRow("dot in a folder name") << QStringList({"/f.d/name"}) << "/f.d/name" << "/f.d/name-0.";
        QTest::newRow("hidden name") << QStringList({"/f/.cfg"}) << "/f/.cfg" << "/f/.cfg-0.";
        QTest::newRow("folder") << QStringList({"/f/dir.app/"}) << "/f/dir.app/" << "/f/dir-0.app";
        QTest::newRow("dangling link is taken") << QStringList({"/f/a.txt->gone"}) << "/f/a.txt" << "/f/a-0.txt";
        QTest::newRow("percent sign in the name") << QStringList({"/f/%2x.txt"}) << "/f/%2x.txt"
                                                  << "/f/%2x-0.txt";
        QTest::newRow("tilde path") << QStringList({"/Users/tester/a.txt"}) << "~/a.txt" << "~/a-0.txt";
    }

    void freeNames()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        build(existing);
        QCOMPARE(kestrum::uniqueFile(path), expected);
        QVERIFY(!fileExists(expected));
    }

    void resolvedPaths_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");

        const QStringList macTmp = {"/private/tmp/", "/tmp->private/tmp"};
        QTest::newRow("Mac /tmp link, missing item") << macTmp << "/tmp/x" << "/private/tmp/x";
        QTest::newRow("Mac /tmp link, existing item") << (macTmp + QStringList{"/private/tmp/x"}) << "/tmp/x"
                                                      << "/private/tmp/x";
        QTest::newRow("plain /tmp folder") << QStringList({"/tmp/"}) << "/tmp/x" << "/private/tmp/x";
        QTest::newRow("link resolving into /tmp") << QStringList({"/tmp/", "/Users/me/t->/tmp"}) << "/Users/me/t/x"
                                                  << "/private/tmp/x";
        QTest::newRow("/var with trailing slash") << QStringList({"/private/var/db/", "/var->private/var"})
                                                  << "/var/db/" << "/private/var/db";
        QTest::newRow("/etc on an empty volume") << QStringList() << "/etc/hosts" << "/private/etc/hosts";
        QTest::newRow("/Users left alone") << QStringList({"/Users/x/"}) << "/Users/x" << "/Users/x";
        QTest::newRow("missing /Users left alone") << QStringList() << "/Users/x" << "/Users/x";
        QTest::newRow("exactly /tmp") << QStringList({"/tmp/"}) << "/tmp" << "/tmp";
        QTest::newRow("/tmpfoo is no /tmp/") << QStringList() << "/tmpfoo/x" << "/tmpfoo/x";
        QTest::newRow("/private kept when the short form is missing") << QStringList({"/private/data/"})
                                                                      << "/private/data" << "/private/data";
        QTest::newRow("/private dropped when the short form exists")
            << QStringList({"/private/data/", "/data->private/data"}) << "/private/data" << "/data";
        QTest::newRow("tilde") << QStringList() << "~/Documents" << "/Users/tester/Documents";
        QTest::newRow("dot-dot") << QStringList() << "/a/../tmp/x" << "/private/tmp/x";
        QTest::newRow("link loop") << QStringList({"/l1->l2", "/l2->l1"}) << "/l1/x" << "/l1/x";
        QTest::newRow("empty") << QStringList() << "" << "";
    }

    void resolvedPaths()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        build(items);
        QCOMPARE(kestrum::stringByResolvingSymlinksInPathFixed(path), expected);
    }

    void writeablePaths()
    {
        build({QStringLiteral("/w/existing.txt"), QStringLiteral("/w/sub/"), QStringLiteral("/w/dangling->gone"),
               QStringLiteral("/w-link->w")});
        const QStringList before = sorted(dirContentsRecursive(QStringLiteral("/w")));

        QVERIFY(!kestrum::isWriteablePath(QStringLiteral("/w/existing.txt")));
        QCOMPARE(contents(QStringLiteral("/w/existing.txt")), QByteArray(10, 'x'));
        QVERIFY(!kestrum::isWriteablePath(QStringLiteral("/w/sub")));
        QVERIFY(!kestrum::isWriteablePath(QStringLiteral("/w/dangling")));
        QVERIFY(fileIsAlias(QStringLiteral("/w/dangling")));
        QVERIFY(!kestrum::isWriteablePath(QStringLiteral("/no-such-folder/new.txt")));
        QVERIFY(!kestrum::isWriteablePath(QString()));

        QVERIFY(kestrum::isWriteablePath(QStringLiteral("/w/new.txt")));
        QVERIFY(kestrum::isWriteablePath(QStringLiteral("/w-link/new.txt")));
        // The test file is gone and nothing else (no temporary file) is left.
        QCOMPARE(sorted(dirContentsRecursive(QStringLiteral("/w"))), before);
    }

    void contentsAndSetContents()
    {
        build({QStringLiteral("/c/"), QStringLiteral("/c/fifo|"), QStringLiteral("/c/old.txt"),
               QStringLiteral("/c/link->old.txt"), QStringLiteral("/Users/tester/")});

        setContents(QStringLiteral("/c/new.bin"), QByteArray("\0\1\2data", 7));
        QCOMPARE(contents(QStringLiteral("/c/new.bin")), QByteArray("\0\1\2data", 7));
        setContents(QStringLiteral("/c/old.txt"), "replaced");
        QCOMPARE(contents(QStringLiteral("/c/old.txt")), QByteArray("replaced"));
        QCOMPARE(contents(QStringLiteral("/c/link")), QByteArray("replaced"));
        setContents(QStringLiteral("~/prefs.plist"), "home");
        QCOMPARE(contents(QStringLiteral("/Users/tester/prefs.plist")), QByteArray("home"));
        setContents(QStringLiteral("/c/empty"), QByteArray());
        const std::optional<QByteArray> empty = contents(QStringLiteral("/c/empty"));
        QVERIFY(empty.has_value());
        QVERIFY(empty->isEmpty());

        // Failures are silent and leave nothing behind.
        setContents(QStringLiteral("/missing-folder/x"), "x");
        QVERIFY(!QFileInfo::exists(phys(QStringLiteral("/missing-folder"))));
        setContents(QStringLiteral("/c"), "x");
        QVERIFY(QFileInfo(phys(QStringLiteral("/c"))).isDir());
        QCOMPARE(sorted(kestrum::dirContents(QStringLiteral("/c"))),
                 QStringList({"empty", "fifo", "link", "new.bin", "old.txt"}));

        // A fifo would block a reader; it is no file to read.
        QVERIFY(!contents(QStringLiteral("/c/fifo")));
        QVERIFY(!contents(QStringLiteral("/c")));
        QVERIFY(!contents(QStringLiteral("/c/nothing")));
    }

    void expandedAndFileURL()
    {
        QCOMPARE(expanded(QStringLiteral("~")), QStringLiteral("/Users/tester"));
        QCOMPARE(expanded(QStringLiteral("~/Library/x")), QStringLiteral("/Users/tester/Library/x"));
        QCOMPARE(expanded(QStringLiteral("/a/~/b")), QStringLiteral("/a/~/b"));
        QCOMPARE(expanded(QStringLiteral("~other/x")), QStringLiteral("~other/x"));
        QCOMPARE(fileURL(QStringLiteral("/Applications/Foo.app")).toString(),
                 QStringLiteral("file:///Applications/Foo.app"));
        QCOMPARE(fileURL(QStringLiteral("~/a b")).path(), QStringLiteral("/Users/tester/a b"));
        QVERIFY(fileURL(QString()).isEmpty());
    }

    void urlFormsOfOtherUrls_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::newRow("https") << QUrl(QStringLiteral("https://example.com/dir"));
        QTest::newRow("ftp") << QUrl(QStringLiteral("ftp://example.com/dir/ten.txt"));
        QTest::newRow("relative") << QUrl(QStringLiteral("/dir"));
        QTest::newRow("empty") << QUrl();
    }

    // The volume does hold /dir and /dir/ten.txt: only the scheme says no.
    void urlFormsOfOtherUrls()
    {
        QFETCH(QUrl, url);
        buildItems();
        QVERIFY(fileExists(QStringLiteral("/dir/ten.txt")));
        QVERIFY(!fileExists(url));
        QVERIFY(!fileIsRestricted(url));
        QVERIFY(!fileIsAlias(url));
        QVERIFY(!fileIsDirectory(url));
        QCOMPARE(fileSize(url), quint64(0));
        QCOMPARE(kestrum::directorySize(url), quint64(0));
        QVERIFY(!kestrum::dirContents(url));
        QVERIFY(!dirContentsRecursive(url));
        QVERIFY(!kestrum::uniqueFile(url));
        QVERIFY(!contents(url));
        setContents(url, "x");
        QCOMPARE(contents(QStringLiteral("/dir/ten.txt")), QByteArray(10, 'x'));
    }

    void urlFormsOfFileUrls()
    {
        buildItems();
        const QUrl dir = fileURL(QStringLiteral("/dir"));
        QVERIFY(fileExists(dir));
        QVERIFY(fileIsDirectory(dir));
        QCOMPARE(fileSize(dir), quint64(0)); // a folder has no file size
        QCOMPARE(kestrum::directorySize(dir), quint64(10 + 5 + 7));
        QCOMPARE(sortedUrls(kestrum::dirContents(dir)),
                 QStringList({"file:///dir/link-to-ten", "file:///dir/sub", "file:///dir/ten.txt"}));
        QCOMPARE(sortedUrls(dirContentsRecursive(dir)),
                 QStringList({"file:///dir/link-to-ten", "file:///dir/sub", "file:///dir/sub/five.txt",
                              "file:///dir/ten.txt"}));

        const QUrl ten = add(dir, QStringLiteral("ten.txt"));
        QCOMPARE(ten.toString(), QStringLiteral("file:///dir/ten.txt"));
        QCOMPARE(fileSize(ten), quint64(10));
        QVERIFY(!fileIsDirectory(ten));
        QCOMPARE(kestrum::uniqueFile(ten), QUrl(QStringLiteral("file:///dir/ten-0.txt")));
        QVERIFY(fileIsAlias(fileURL(QStringLiteral("/linked-dir"))));
        QVERIFY(!fileIsDirectory(fileURL(QStringLiteral("/linked-dir"))));
        QVERIFY(!fileExists(fileURL(QStringLiteral("/dangling"))));

        const QUrl written = add(dir, QStringLiteral("a b#c.txt"));
        setContents(written, "url");
        QCOMPARE(contents(written), QByteArray("url"));
        QVERIFY(QFileInfo::exists(phys(QStringLiteral("/dir/a b#c.txt"))));

        QCOMPARE(add(QUrl(QStringLiteral("https://example.com")), QStringLiteral("x")).toString(),
                 QStringLiteral("https://example.com/x"));
        QCOMPARE(add(QUrl(QStringLiteral("file:///dir/")), QStringLiteral("x")).path(), QStringLiteral("/dir/x"));
    }

    void restrictedFlag()
    {
        build({QStringLiteral("/prot/file.txt"), QStringLiteral("/prot/other.txt"), QStringLiteral("/prot-dir/"),
               QStringLiteral("/prot-link->prot/file.txt"), QStringLiteral("/linked-prot->prot"),
               QStringLiteral("/fifo|")});
        for (const char *path : {"/nothing", "/prot/file.txt", "/prot-link", "/fifo", "/prot-dir"})
            QVERIFY2(!kestrum::fileIsRestricted(QLatin1String(path)), path);

        if (::geteuid() != 0)
            QSKIP("setting the immutable flag needs root");
        if (QStandardPaths::findExecutable(QStringLiteral("chattr")).isEmpty())
            QSKIP("chattr is not installed");
        if (!platform::FileFlags::canReadFlags(m_root))
            QSKIP("the file system under the temporary folder keeps no inode flags");

        // Recorded before setting, so that cleanup() clears even a half-done set.
        for (const char *path : {"/prot/file.txt", "/prot-dir"}) {
            m_immutable.append(phys(QLatin1String(path)));
            QVERIFY2(setImmutable(m_immutable.constLast(), true), path);
        }
        QVERIFY(!QFile::remove(phys(QStringLiteral("/prot/file.txt")))); // the flag is real

        QVERIFY(kestrum::fileIsRestricted(QStringLiteral("/prot/file.txt")));
        QVERIFY(kestrum::fileIsRestricted(QStringLiteral("/prot-dir")));
        QVERIFY(kestrum::fileIsRestricted(QStringLiteral("/linked-prot/file.txt")));
        QVERIFY(kestrum::fileIsRestricted(fileURL(QStringLiteral("/prot/file.txt"))));
        QVERIFY(!kestrum::fileIsRestricted(QStringLiteral("/prot/other.txt")));
        QVERIFY(!kestrum::fileIsRestricted(QStringLiteral("/prot")));
        // A link is judged by its own flags, never its target's.
        QVERIFY(!kestrum::fileIsRestricted(QStringLiteral("/prot-link")));
        QVERIFY(!platform::FileFlags::isImmutable(phys(QStringLiteral("/prot-link"))));
        QVERIFY(platform::FileFlags::isImmutable(phys(QStringLiteral("/prot/file.txt"))));
    }

    void runningTools_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<bool>("ran");            // a text comes back
        QTest::addColumn<QString>("output");
        QTest::addColumn<qint64>("status");

        const QString sh = QStringLiteral("/bin/sh");
        QTest::newRow("missing tool") << QStringList({"/nonexistent/tool"}) << false << "" << kStatusNotWritten;
        QTest::newRow("a folder is no tool") << QStringList({"/tmp"}) << false << "" << kStatusNotWritten;
        QTest::newRow("no search along PATH") << QStringList({"sh", "-c", "echo hi"}) << false << ""
                                              << kStatusNotWritten;
        QTest::newRow("empty list") << QStringList() << false << "" << kStatusNotWritten;
        QTest::newRow("both streams in the order written")
            << QStringList({sh, "-c", "echo out; echo err >&2; echo out2"}) << true << "out\nerr\nout2\n"
            << qint64(0);
        QTest::newRow("exit status 1") << QStringList({sh, "-c", "exit 1"}) << true << "" << qint64(1);
        QTest::newRow("exit status with output") << QStringList({sh, "-c", "echo failed >&2; exit 42"}) << true
                                                 << "failed\n" << qint64(42);
        QTest::newRow("ended by a signal") << QStringList({sh, "-c", "kill -9 $$"}) << true << "" << qint64(9);
        QTest::newRow("invalid UTF-8") << QStringList({sh, "-c", "printf 'ok\\377\\376'"}) << false << ""
                                       << qint64(0);
        QTest::newRow("UTF-8 cut short") << QStringList({sh, "-c", "printf 'x\\342\\202'"}) << false << ""
                                         << qint64(0);
        QTest::newRow("valid UTF-8") << QStringList({sh, "-c", "printf 'caf\\303\\251 \\342\\202\\254'"}) << true
                                     << QString::fromUtf8("café €") << qint64(0);
        QTest::newRow("arguments as they are")
            << QStringList({sh, "-c", "printf '%s|' \"$@\"", "sh", "a b", "*", "$HOME"}) << true << "a b|*|$HOME|"
            << qint64(0);
        QTest::newRow("nothing on standard input") << QStringList({sh, "-c", "cat; echo done"}) << true << "done\n"
                                                   << qint64(0);
        QTest::newRow("output of a child outliving the tool")
            << QStringList({sh, "-c", "(sleep 1; echo late) & echo early"}) << true << "early\nlate\n" << qint64(0);
        QTest::newRow("environment inherited") << QStringList({sh, "-c", "echo $DORVANE_TASK_PROBE"}) << true
                                               << "inherited\n" << qint64(0);
        QTest::newRow("working folder inherited") << QStringList({sh, "-c", "pwd -P"}) << true
                                                  << QDir::current().canonicalPath() + "\n" << qint64(0);
    }

    void runningTools()
    {
        QFETCH(QStringList, command);
        QFETCH(bool, ran);
        QFETCH(QString, output);
        QFETCH(qint64, status);

        qint64 terminationStatus = kStatusNotWritten;
        const std::optional<QString> text = kestrum::runAsTask(command, &terminationStatus);
        QCOMPARE(text.has_value(), ran);
        if (ran)
            QCOMPARE(*text, output);
        QCOMPARE(terminationStatus, status);
        // The status pointer is optional.
        QCOMPARE(kestrum::runAsTask(command).has_value(), ran);
    }

    void observerCallsOncePerBatch()
    {
        build({QStringLiteral("/watched/"), QStringLiteral("/watched-link->watched")});
        DirectoryObserver observer;
        int calls = 0;
        QThread *callThread = nullptr;
        QVERIFY(observer.startObserving(QStringLiteral("/watched-link"), [&] {
            ++calls;
            callThread = QThread::currentThread();
        }));

        QElapsedTimer sinceFirstChange;
        sinceFirstChange.start();
        for (int i = 0; i < 5; ++i) {
            write(QStringLiteral("/watched/file%1.txt").arg(i), "data");
            QCoreApplication::processEvents(); // let each change reach the observer on its own
        }
        QFile::remove(phys(QStringLiteral("/watched/file0.txt")));

        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, DirectoryObserver::kLatencyMs * 3);
        QVERIFY2(sinceFirstChange.elapsed() >= DirectoryObserver::kLatencyMs - 100,
                 "the batch was delivered before the latency ran out");
        QCOMPARE(callThread, QThread::currentThread());
        // That no second call follows can only be seen by waiting one more latency.
        QTest::qWait(DirectoryObserver::kLatencyMs + 500);
        QCOMPARE(calls, 1);

        // It goes on observing: a later change is a new batch.
        write(QStringLiteral("/watched/later.txt"), "data");
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, DirectoryObserver::kLatencyMs * 3);
    }

    void observerStops()
    {
        build({QStringLiteral("/watched/")});
        const QString folder = QStringLiteral("/watched");
        int stoppedCalls = 0;
        int destroyedCalls = 0;
        int controlCalls = 0;
        DirectoryObserver stopped;
        auto destroyed = std::make_unique<DirectoryObserver>();
        DirectoryObserver control;
        DirectoryObserver neverStarted;
        neverStarted.stopObserving(); // without a start: nothing happens, to it or to the others
        QVERIFY(!neverStarted.isObserving());
        QVERIFY(stopped.startObserving(folder, [&] { ++stoppedCalls; }));
        QVERIFY(destroyed->startObserving(folder, [&] { ++destroyedCalls; }));
        QVERIFY(control.startObserving(folder, [&] { ++controlCalls; }));
        QVERIFY(!neverStarted.startObserving(QStringLiteral("/no-such-folder"), [] {}));
        neverStarted.stopObserving();

        // A watcher of the test's own shows when the change has been seen: the
        // kernel queues it to every watcher at once, so the observers have
        // each taken it into a batch by then.
        QFileSystemWatcher probe({phys(folder)});
        QSignalSpy seen(&probe, &QFileSystemWatcher::directoryChanged);
        write(QStringLiteral("/watched/a.txt"), "data");
        QTRY_VERIFY_WITH_TIMEOUT(seen.count() > 0, 5000);
        QCoreApplication::processEvents();
        stopped.stopObserving();
        QVERIFY(!stopped.isObserving());
        destroyed.reset();

        // The control observer's batch ends when the others' would have.
        QTRY_COMPARE_WITH_TIMEOUT(controlCalls, 1, DirectoryObserver::kLatencyMs * 3);
        QCoreApplication::processEvents();
        QCOMPARE(stoppedCalls, 0);
        QCOMPARE(destroyedCalls, 0);
    }
};

QTEST_GUILESS_MAIN(TestFileSystem)
#include "tst_filesystem.moc"
