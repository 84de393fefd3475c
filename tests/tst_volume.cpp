#include "platform/Volume.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QTest>

using platform::Volume;

class VolumeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void physicalPathStaysBelowRoot_data();
    void physicalPathStaysBelowRoot();
    void logicalPathOfPhysical();
    void linksResolveInsideTheVolume_data();
    void linksResolveInsideTheVolume();
    void linkLoopGivesNothing();
    void realRootMapsToItself();
};

void VolumeTest::physicalPathStaysBelowRoot_data()
{
    QTest::addColumn<QString>("logical");
    QTest::addColumn<QString>("expected"); // relative to the root

    QTest::newRow("plain") << "/Applications/Foo.app" << "/Applications/Foo.app";
    QTest::newRow("trailing slash kept") << "/private/var/db/receipts/" << "/private/var/db/receipts/";
    QTest::newRow("climbing above root") << "/../../../etc/passwd" << "/etc/passwd";
    QTest::newRow("climbing in the middle") << "/Library/../../..//etc" << "/etc";
    QTest::newRow("dots and doubled slashes") << "/a/./b//c/." << "/a/b/c";
    QTest::newRow("home") << "~/Library/Preferences" << "/Users/tester/Library/Preferences";
    QTest::newRow("home alone") << "~" << "/Users/tester";
    QTest::newRow("home climbing") << "~/../../../x" << "/x";
    QTest::newRow("relative counts from root") << "Applications" << "/Applications";
    QTest::newRow("root") << "/" << "";
}

void VolumeTest::physicalPathStaysBelowRoot()
{
    QFETCH(QString, logical);
    QFETCH(QString, expected);
    VolumeFixture volume;
    QCOMPARE(Volume::physicalPath(logical), volume.root() + expected);
}

void VolumeTest::logicalPathOfPhysical()
{
    VolumeFixture volume;
    QCOMPARE(Volume::logicalPath(volume.root() + "/Applications/x"), QStringLiteral("/Applications/x"));
    QCOMPARE(Volume::logicalPath(volume.root()), QStringLiteral("/"));
    // A sibling whose name merely begins with the root's is outside it.
    QCOMPARE(Volume::logicalPath(volume.root() + "sibling/x"), QString());
    QCOMPARE(Volume::logicalPath(QStringLiteral("/etc/passwd")), QString());
}

void VolumeTest::linksResolveInsideTheVolume_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("expected");

    QTest::newRow("absolute target counts from the volume root")
        << "/var" << "/private/var" << "/var/db" << "/private/var/db";
    QTest::newRow("relative target") << "/tmp" << "private/tmp" << "/tmp/x" << "/private/tmp/x";
    QTest::newRow("absolute link to root") << "/Library/up" << "/" << "/Library/up/etc" << "/etc";
    QTest::newRow("relative climbing beyond root")
        << "/Library/out" << "../../../../../.." << "/Library/out/etc/passwd" << "/etc/passwd";
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
    volume.makeFolder("/real");
    volume.makeLink("/b", "/real");
    QVERIFY(volume.makeLink(link, target));

    QCOMPARE(Volume::resolvedLogicalPath(asked), expected);
    QCOMPARE(Volume::resolvedPhysicalPath(asked, true), volume.root() + expected);
    // Without following the final link, the link itself is named.
    QCOMPARE(Volume::resolvedLogicalPath(link, false), link);
}

void VolumeTest::linkLoopGivesNothing()
{
    VolumeFixture volume;
    volume.makeLink("/loop1", "/loop2");
    volume.makeLink("/loop2", "loop1");
    QCOMPARE(Volume::resolvedLogicalPath("/loop1/x"), QString());
    QCOMPARE(Volume::resolvedPhysicalPath("/loop1", true), QString());
    // The final link itself can still be named.
    QCOMPARE(Volume::resolvedLogicalPath("/loop1", false), QStringLiteral("/loop1"));
}

void VolumeTest::realRootMapsToItself()
{
    Volume::configure(QString(), QStringLiteral("/home/someone"));
    QCOMPARE(Volume::root(), QStringLiteral("/"));
    QVERIFY(Volume::isRealRoot());
    QCOMPARE(Volume::physicalPath("/etc/hosts"), QStringLiteral("/etc/hosts"));
    QCOMPARE(Volume::physicalPath("~/x"), QStringLiteral("/home/someone/x"));
    QCOMPARE(Volume::logicalPath("/etc/hosts"), QStringLiteral("/etc/hosts"));
    Volume::configure(QString(), QString());
}

QTEST_GUILESS_MAIN(VolumeTest)
#include "tst_volume.moc"
