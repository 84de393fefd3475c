#include "dorvane/catalogue/PathTable.h"
#include "platform/Memory.h"
#include "kestrum/DefaultsKey.h"
#include "platform/NameFolding.h"
#include "platform/PathMaker.h"
#include "kestrum/FileSystem.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/VolumeFixture.h"

#include "ImmutableFlag.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using platform::Follow;
using platform::LogicalPath;
using platform::Volume;

class VolumeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pathsAreCleanedOnce_data();
    void pathsAreCleanedOnce();
    void childNeverClimbsAboveItsFolder();
    void spellingsOfOneNameAreOnePath_data();
    void spellingsOfOneNameAreOnePath();
    void linksResolveInsideTheVolume_data();
    void linksResolveInsideTheVolume();
    void linksNeverLeadOutOfTheRoot_data();
    void linksNeverLeadOutOfTheRoot();
    void loopsAndLongPathsGiveAnAnswer();
    void onlyRegularFilesAreRead();
    void removalNeverFollowsALink();
    void realRootMapsToItself();
    void volumesLiveSideBySide();
    void largeBlocksAreMappedWhole();
};

void VolumeTest::pathsAreCleanedOnce_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("macLinks");   // the volume has /etc, /tmp and /var leading into /private
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "/Applications/Foo.app" << true << "/Applications/Foo.app";
    QTest::newRow("trailing slash") << "/private/var/db/receipts/" << true << "/private/var/db/receipts";
    QTest::newRow("climbing above root") << "/../../../etc/passwd" << false << "/etc/passwd";
    QTest::newRow("climbing in the middle") << "/Applications/../bin/echo" << true << "/bin/echo";
    QTest::newRow("relative climbing") << "Applications/.." << true << "/";
    QTest::newRow("dots and doubled slashes") << "/a/./b//c/." << true << "/a/b/c";
    QTest::newRow("only slashes") << "//" << true << "/";
    QTest::newRow("slash dot slash") << "/./" << true << "/";
    QTest::newRow("empty names nothing") << "" << true << QString();
    QTest::newRow("a NUL names nothing") << QStringLiteral("/Library/Foo\0/x") << true << QString();
    QTest::newRow("a NUL in the last name names nothing") << QStringLiteral("/Library/Foo\0") << true << QString();
    QTest::newRow("a lone surrogate names nothing") << QString(QChar(0xd800)) << true << QString();
    QTest::newRow("home") << "~/Library/Preferences/" << true << "/Users/tester/Library/Preferences";
    QTest::newRow("home alone") << "~" << true << "/Users/tester";
    QTest::newRow("home climbing") << "~/../../../x" << true << "/x";
    QTest::newRow("tilde inside is a name") << "/a/~/b" << true << "/a/~/b";
    QTest::newRow("tmp on a Mac volume") << "/tmp/x" << true << "/private/tmp/x";
    QTest::newRow("etc itself on a Mac volume") << "/etc/" << true << "/private/etc";
    QTest::newRow("var reached by climbing") << "/private/../var/db" << true << "/private/var/db";
    QTest::newRow("tmp on a plain volume") << "/tmp/x" << false << "/tmp/x";
    QTest::newRow("etc in capitals on a Mac volume") << "/ETC/hosts" << true << "/private/ETC/hosts";
    QTest::newRow("etc below a folder that cleans to /") << "/a/../etc" << true << "/private/etc";
    QTest::newRow("a name beyond ASCII") << QStringLiteral("/L/./Caf\u00c9/\u00c4rger") << true
                                         << QStringLiteral("/L/Caf\u00c9/\u00c4rger");
}

void VolumeTest::pathsAreCleanedOnce()
{
    QFETCH(QString, text);
    QFETCH(bool, macLinks);
    QFETCH(QString, expected);
    VolumeFixture volume;
    if (macLinks) {
        for (const char *name : {"etc", "tmp", "var"}) {
            QVERIFY(volume.makeFolder(QStringLiteral("/private/") + QLatin1String(name)));
            QVERIFY(volume.makeLink(QLatin1Char('/') + QLatin1String(name), QStringLiteral("private/") + QLatin1String(name)));
        }
    }
    // The home folder is given with a trailing slash, as a user may type it.
    QVERIFY(Volume::configure(volume.root(), QStringLiteral("/Users/tester/")));
    const std::optional<LogicalPath> path = platform::volumePath(text);
    QCOMPARE(path ? path->toString() : QString(), expected);
    if (path)   // cleaned once: cleaning again changes nothing
        QCOMPARE(platform::volumePath(path->toString()).value().toString(), path->toString());

    // Made from UTF-8 after a neighbour in the same folder, the path is the
    // same, down to its key.
    if (!text.isValidUtf16())
        return;
    platform::PathMaker maker(Volume::current());
    const QByteArray utf8 = text.toUtf8();
    if (const QByteArray folder = utf8.left(utf8.lastIndexOf('/')); !folder.isEmpty())
        QVERIFY(maker.path(folder + "/neighbour").has_value() == !folder.contains('\0'));
    const std::optional<LogicalPath> made = maker.path(utf8);
    QCOMPARE(made ? made->toString() : QString(), expected);
    if (made)
        QCOMPARE(made->key(), path->key());
}

void VolumeTest::childNeverClimbsAboveItsFolder()
{
    const LogicalPath folder = platform::volumePath(u"/Library/Caches").value();
    QCOMPARE(folder.child(u"com.example.app").toString(), QStringLiteral("/Library/Caches/com.example.app"));
    QCOMPARE(folder.child(u"../../../etc").toString(), QStringLiteral("/Library/Caches/etc"));
    QCOMPARE(folder.child(u"").toString(), folder.toString());
    QVERIFY(folder.child(u"a/b").isWithin(folder));
    QVERIFY(folder.child(u"a").isChildOf(folder) && !folder.child(u"a/b").isChildOf(folder) && !folder.isChildOf(folder));
    QVERIFY(folder.parent().isChildOf(Volume::current()->top()) && !Volume::current()->top().isChildOf(Volume::current()->top()));
    QVERIFY(!platform::volumePath(u"/Library/CachesOld").value().isWithin(folder));
    QVERIFY(folder.isWithin(Volume::current()->top()));
}

void VolumeTest::spellingsOfOneNameAreOnePath_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("ASCII case") << QByteArray("/Library/Frameworks/TwistKit.framework")
                                << QByteArray("/library/FRAMEWORKS/twistkit.framework") << true;
    QTest::newRow("sharp s and SS") << QByteArray("/a/Stra\xc3\x9f""e") << QByteArray("/a/STRASSE") << true;
    QTest::newRow("A ring composed and decomposed") << QByteArray("/a/\xc3\x85ngstr\xc3\xb6m")
                                                    << QByteArray("/a/A\xcc\x8angstro\xcc\x88m") << true;
    QTest::newRow("Greek final sigma") << QByteArray("/a/\xce\x9f\xce\x94\xce\x9f\xce\xa3")
                                       << QByteArray("/a/\xce\xbf\xce\xb4\xce\xbf\xcf\x82") << true;
    QTest::newRow("invalid UTF-8 byte for byte") << QByteArray("/a/X\xff") << QByteArray("/a/x\xff") << false;
    QTest::newRow("other names") << QByteArray("/Applications/Foo.app")
                                 << QByteArray("/Applications/Foo.app Beta.app") << false;
}

// A Mac volume takes these spellings for one file: the path, its hash, its
// folders and the catalogue's table all agree, and the table shows the
// spelling it met first.
void VolumeTest::spellingsOfOneNameAreOnePath()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, same);
    QCOMPARE(platform::foldedNameUtf8(a) == platform::foldedNameUtf8(b), same);
    QCOMPARE(platform::foldedName(u"/A/./B/../C"), QStringLiteral("/a/./b/../c"));
    if (!QByteArrayView(a).isValidUtf8())
        return;
    const LogicalPath first = platform::volumePath(QString::fromUtf8(a)).value();
    const LogicalPath second = platform::volumePath(QString::fromUtf8(b)).value();
    QCOMPARE(first == second, same);
    QCOMPARE(qHash(first) == qHash(second), same);
    QCOMPARE(first.child(u"x").isWithin(second), same);
    QCOMPARE(first.toString(), QString::fromUtf8(a));
    dorvane::PathTable table;
    const auto id = table.intern(first.toString());
    QCOMPARE(table.intern(second.toString()) == id, same);
    QCOMPARE(table.find(second.toString()) == id, same);
    QCOMPARE(table.path(id), first.toString());
    dorvane::FoldedPaths folded;   // folded away from the table, as the scan does
    folded.append(b);
    QCOMPARE(table.intern(folded, 0) == id, same);
}

// A table of a huge page or more gets a mapping of its own: on a huge-page
// bound, every byte of it usable; a size whose rounding would wrap is refused.
void VolumeTest::largeBlocksAreMappedWhole()
{
    constexpr size_t kHuge = size_t(2) << 20;
    for (const size_t bytes : {size_t(4096), kHuge, 3 * kHuge + 1}) {
        char *block = static_cast<char *>(platform::allocateLarge(bytes));
        if (bytes >= kHuge)
            QCOMPARE(reinterpret_cast<uintptr_t>(block) % kHuge, uintptr_t(0));
        std::memset(block, 0x5a, bytes);   // faults if the mapping is short
        platform::freeLarge(block, bytes);
    }
    QVERIFY_THROWS_EXCEPTION(std::bad_alloc, platform::allocateLarge(SIZE_MAX - 1));
}

void VolumeTest::linksResolveInsideTheVolume_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("expected");

    QTest::newRow("absolute target counts from the volume root")
        << "/opt/var" << "/private/var" << "/opt/var/db" << "/private/var/db";
    QTest::newRow("relative target") << "/opt/tmp" << "../private/tmp" << "/opt/tmp/x" << "/private/tmp/x";
    QTest::newRow("absolute link to root") << "/Library/up" << "/" << "/Library/up/real" << "/real";
    QTest::newRow("relative climbing beyond root")
        << "/Library/out" << "../../../../../.." << "/Library/out/real/x" << "/real/x";
    QTest::newRow("chain of links") << "/a" << "/b" << "/a/c" << "/real/c";
}

void VolumeTest::linksResolveInsideTheVolume()
{
    QFETCH(QString, link);
    QFETCH(QString, target);
    QFETCH(QString, asked);
    QFETCH(QString, expected);
    VolumeFixture volume;
    volume.makeFolder("/private/var/db");
    volume.makeFolder("/private/tmp");
    volume.makeFolder("/Library");
    volume.makeFolder("/real");
    volume.makeLink("/b", "/real");
    QVERIFY(volume.makeLink(link, target));

    QCOMPARE(Volume::current()->resolved(platform::volumePath(asked).value())->toString(), expected);
    // Without following the final link, the link itself is named.
    QCOMPARE(Volume::current()->resolved(platform::volumePath(link).value(), Follow::NotFinal)->toString(), link);
    QVERIFY(Volume::current()->status(platform::volumePath(link).value(), Follow::NotFinal)->isLink());
}

// Links a hostile disk may carry, each pointing at a folder of the host
// outside the volume: nothing is read, written or listed there.
void VolumeTest::linksNeverLeadOutOfTheRoot_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("relative");

    QTest::newRow("preferences folder") << "~/Library/Preferences" << false;
    QTest::newRow("support folder") << "~/Library/Application Support" << false;
    QTest::newRow("reports folder") << "~/Library/Logs" << false;
    QTest::newRow("receipts folder") << "/private/var/db/receipts" << false;
    QTest::newRow("climbing out") << "~/Library/Preferences" << true;
}

void VolumeTest::linksNeverLeadOutOfTheRoot()
{
    QFETCH(QString, link);
    QFETCH(bool, relative);
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QFile secret(outside.filePath("secret.plist"));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("host file");
    secret.close();

    VolumeFixture volume;
    const QString physicalLink = volume.physical(link);
    QVERIFY(QDir().mkpath(QFileInfo(physicalLink).absolutePath()));
    const QString target = relative ? QStringLiteral("../../../../../../../../../..") + outside.path() : outside.path();
    QVERIFY(QFile::link(target, physicalLink));

    const LogicalPath inside = platform::volumePath(link).value().child(u"secret.plist");
    QVERIFY(!Volume::current()->readFile(inside, 1 << 20));
    QVERIFY(!Volume::current()->status(inside, Follow::Final));
    QVERIFY(!Volume::current()->list(platform::volumePath(link).value()));
    QVERIFY(!Volume::current()->writeFile(platform::volumePath(link).value().child(u"written.plist"), "x"));
    kestrum::setContents(inside.toString(), "overwritten");
    QVERIFY(!kestrum::contents(inside.toString()));
    QCOMPARE(kestrum::dirContents(link), std::nullopt);
    // The preference file goes where the volume says, never to the host.
    kestrum::DefaultsKey(QStringLiteral("VolumeTestKey")).setDefaultInt(7);

    QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"secret.plist"});
    QVERIFY(secret.open(QIODevice::ReadOnly));
    QCOMPARE(secret.readAll(), QByteArrayLiteral("host file"));
}

void VolumeTest::loopsAndLongPathsGiveAnAnswer()
{
    VolumeFixture volume;
    volume.makeLink("/loop1", "/loop2");
    volume.makeLink("/loop2", "loop1");
    QVERIFY(!Volume::current()->resolved(platform::volumePath(u"/loop1/x").value()));
    QVERIFY(!Volume::current()->status(platform::volumePath(u"/loop1").value(), Follow::Final));
    QVERIFY(Volume::current()->status(platform::volumePath(u"/loop1").value(), Follow::NotFinal)->isLink());
    QString error;
    QVERIFY(!Volume::current()->readFile(platform::volumePath(u"/loop1").value(), 100, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!kestrum::fileExists("/loop1/x"));

    QString deep;
    for (int i = 0; i < 4000; ++i)
        deep += QStringLiteral("/a");
    const LogicalPath longPath = platform::volumePath(deep).value();
    QCOMPARE(longPath.toString().size(), deep.size());
    QVERIFY(!Volume::current()->status(longPath, Follow::Final));
    QVERIFY(!Volume::current()->writeFile(longPath, "x"));
    QVERIFY(!kestrum::fileExists(deep));
}

void VolumeTest::onlyRegularFilesAreRead()
{
    VolumeFixture volume;
    QVERIFY(volume.writeFile("/Library/small", "12345"));
    QVERIFY(volume.makeFolder("/Library/folder"));
    QVERIFY(::mkfifo(QFile::encodeName(volume.physical("/Library/fifo")).constData(), 0644) == 0);
    QFile sparse(volume.physical("/Library/huge"));
    QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(3) << 30));
    sparse.close();

    QCOMPARE(*Volume::current()->readFile(platform::volumePath(u"/Library/small").value(), 5), QByteArrayLiteral("12345"));
    for (const char *refused : {"/Library/small", "/Library/folder", "/Library/fifo", "/Library/huge"}) {
        QString error;
        QVERIFY2(!Volume::current()->readFile(platform::volumePath(QString::fromLatin1(refused)).value(), 4, &error), refused);
        QVERIFY2(!error.isEmpty(), refused);
    }
}

// A tree with links to the host and back up the volume inside, and a path
// that reaches a kept file through a link: the tree goes, nothing behind a
// link does, and an immutable file is reported while the rest still goes.
void VolumeTest::removalNeverFollowsALink()
{
    QTemporaryDir outside;
    QFile hostFile(outside.filePath("keep.txt"));
    QVERIFY(hostFile.open(QIODevice::WriteOnly) && hostFile.write("host") == 4);
    hostFile.close();
    VolumeFixture volume;
    QVERIFY(volume.writeFile("/Library/Tool/a/b/c.txt", "x") && volume.writeFile("/Library/Tool/d.txt", "y"));
    QVERIFY(volume.writeFile("/Library/Kept/k.txt", "k"));
    QVERIFY(volume.makeLink("/Library/Tool/out", outside.path()) && volume.makeLink("/Library/Tool/up", "../.."));
    QVERIFY(volume.makeLink("/Library/Via", "/Library/Kept"));

    QString error;
    QVERIFY(!Volume::current()->removeTree(platform::volumePath(u"/Library/Via/k.txt").value(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!Volume::current()->removeTree(Volume::current()->top(), &error));
    QVERIFY2(Volume::current()->removeTree(platform::volumePath(u"/Library/Tool").value(), &error), qPrintable(error));
    QVERIFY(!QFileInfo::exists(volume.physical("/Library/Tool")));
    QVERIFY(QFileInfo::exists(volume.physical("/Library/Kept/k.txt")));
    QVERIFY(QFileInfo::exists(outside.filePath("keep.txt")));

    QVERIFY(volume.writeFile("/Library/Locked/in.txt") && volume.writeFile("/Library/Locked/free.txt"));
    if (!volumegen::ImmutableFlag::set(volume.physical("/Library/Locked/in.txt"), true))
        QSKIP("setting the immutable flag needs root and a file system that keeps it");
    const bool removed = Volume::current()->removeTree(platform::volumePath(u"/Library/Locked").value(), &error);
    volumegen::ImmutableFlag::set(volume.physical("/Library/Locked/in.txt"), false);
    QVERIFY(!removed);
    QVERIFY2(error.contains("in.txt"), qPrintable(error));
    QVERIFY(QFileInfo::exists(volume.physical("/Library/Locked/in.txt")));
    QVERIFY(!QFileInfo::exists(volume.physical("/Library/Locked/free.txt")));
}

void VolumeTest::realRootMapsToItself()
{
    QVERIFY(Volume::configure(QString(), QStringLiteral("/home/someone/")));
    QVERIFY(Volume::current()->isRealRoot());
    QCOMPARE(Volume::current()->physicalPath(platform::volumePath(u"~/x").value()), QStringLiteral("/home/someone/x"));
    QCOMPARE(Volume::current()->logicalPath(QStringLiteral("/etc/hosts"))->toString(), QStringLiteral("/etc/hosts"));
    QVERIFY(Volume::current()->status(platform::volumePath(u"/proc/self").value(), Follow::NotFinal));
    QVERIFY(Volume::configure(QString(), QString()));
}

// Two volumes in one process, each with its own rules and its own disk,
// without the process's volume changing.
void VolumeTest::volumesLiveSideBySide()
{
    VolumeFixture mac;
    VolumeFixture plain;
    QVERIFY(mac.makeFolder("/private/etc") && mac.makeLink("/etc", "private/etc"));
    QVERIFY(mac.writeFile("/private/etc/hosts", "mac") && plain.writeFile("/etc/hosts", "plain"));
    const auto process = Volume::current();
    const auto first = Volume::open(mac.root(), "/Users/a");
    const auto second = Volume::open(plain.root(), "/Users/b");
    QVERIFY(first && second && !Volume::open(mac.physical("/private/etc/hosts"), QString()));
    const LogicalPath macHosts = first->path(u"/etc/hosts").value();
    const LogicalPath plainHosts = second->path(u"/etc/hosts").value();
    QCOMPARE(macHosts.toString(), QStringLiteral("/private/etc/hosts"));
    QCOMPARE(plainHosts.toString(), QStringLiteral("/etc/hosts"));
    QCOMPARE(first->top().child(u"etc").toString(), QStringLiteral("/private/etc"));
    QCOMPARE(first->readFile(macHosts, 10).value(), QByteArray("mac"));
    QCOMPARE(second->readFile(plainHosts, 10).value(), QByteArray("plain"));
    QCOMPARE(first->path(u"~").value().toString(), QStringLiteral("/Users/a"));
    QCOMPARE(second->path(u"~").value().toString(), QStringLiteral("/Users/b"));
    QCOMPARE(Volume::current(), process);
}

QTEST_GUILESS_MAIN(VolumeTest)
#include "tst_volume.moc"
