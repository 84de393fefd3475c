#include "kestrum/Kestrum.h"
#include "kestrum/RvHostInformation.h"
#include "platform/Host.h"
#include "support/VolumeFixture.h"

#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <net/if.h>
#include <sys/socket.h>

using namespace kestrum;

using Entry = RvHostInformation::InterfaceAddress;
Q_DECLARE_METATYPE(QList<RvHostInformation::InterfaceAddress>)

namespace {

Entry up(const char *name, int family, const char *text)
{
    return Entry{QString::fromLatin1(name), IFF_UP | IFF_RUNNING, family, QString::fromLatin1(text)};
}

} // namespace

class HostInfoTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chooseAddress_data();
    void chooseAddress();
    void diskNumberOfDevice_data();
    void diskNumberOfDevice();
    void bootDiskIsCachedOnceFound();
    void bootDiskIsLookedUpAgainWhenNotFound();
    void addDiskToList();
    void addDiskMatchesNumbersNumerically();
    void growlLocation();
    void realMachineAnswers();
};

void HostInfoTest::chooseAddress_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QString>("address");

    const Entry lo4 = up("lo", AF_INET, "127.0.0.1");
    const Entry lo6 = up("lo", AF_INET6, "::1");
    QTest::newRow("only loopback, v4") << QList<Entry>{lo4, lo6} << false << "127.0.0.1";
    QTest::newRow("only loopback, v6") << QList<Entry>{lo4, lo6} << true << "::1";
    QTest::newRow("nothing at all, v4") << QList<Entry>{} << false << "127.0.0.1";
    QTest::newRow("nothing at all, v6") << QList<Entry>{} << true << "::1";

    Entry down = up("eth0", AF_INET, "192.0.2.7");
    down.flags = IFF_RUNNING; // carries an address but is not up
    QTest::newRow("down interface skipped") << QList<Entry>{lo4, down, up("eth1", AF_INET, "198.51.100.4")} << false
                                            << "198.51.100.4";
    QTest::newRow("down only") << QList<Entry>{down} << false << "127.0.0.1";

    const Entry noAddress{QStringLiteral("eth0"), IFF_UP, -1, std::nullopt};
    QTest::newRow("entry without address skipped") << QList<Entry>{noAddress, up("eth0", AF_INET, "192.0.2.8")}
                                                   << false << "192.0.2.8";
    QTest::newRow("family decides, v4") << QList<Entry>{up("eth0", AF_INET6, "2001:db8::1"), up("eth0", AF_INET, "192.0.2.9")}
                                        << false << "192.0.2.9";
    QTest::newRow("family decides, v6") << QList<Entry>{up("eth0", AF_INET, "192.0.2.9"), up("eth0", AF_INET6, "2001:db8::1")}
                                        << true << "2001:db8::1";
    QTest::newRow("link-layer entries are no address")
        << QList<Entry>{up("eth0", AF_PACKET, "x"), up("eth0", AF_INET, "192.0.2.10")} << false << "192.0.2.10";
    Entry unconverted = up("eth0", AF_INET, "");
    unconverted.text.reset();
    QTest::newRow("failed conversion skipped") << QList<Entry>{unconverted, up("eth1", AF_INET, "192.0.2.11")} << false
                                               << "192.0.2.11";
    QTest::newRow("any lo name is loopback") << QList<Entry>{up("lo0", AF_INET, "127.0.0.2"), up("loop9", AF_INET, "10.9.9.9"),
                                                             up("wlan0", AF_INET, "192.0.2.12")}
                                             << false << "192.0.2.12";
    QTest::newRow("first one wins") << QList<Entry>{up("eth0", AF_INET, "192.0.2.13"), up("eth1", AF_INET, "192.0.2.14")}
                                    << false << "192.0.2.13";
}

void HostInfoTest::chooseAddress()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(bool, ipv6);
    QFETCH(QString, address);
    QCOMPARE(RvHostInformation::chooseAddress(entries, ipv6), address);
}

void HostInfoTest::diskNumberOfDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<qint64>("number");
    QTest::newRow("slice") << "/dev/disk1s1" << qint64(1);
    QTest::newRow("two digits") << "/dev/disk12s3" << qint64(12);
    QTest::newRow("whole disk") << "/dev/disk4" << qint64(4);
    QTest::newRow("snapshot slice") << "/dev/disk3s1s1" << qint64(3);
    QTest::newRow("no number") << "/dev/diskXs1" << qint64(0);
    QTest::newRow("linux disk") << "/dev/sda1" << qint64(-1);
    QTest::newRow("virtual disk") << "/dev/vda" << qint64(-1);
    QTest::newRow("overlay") << "overlay" << qint64(-1);
    QTest::newRow("unknown") << "" << qint64(-1);
}

void HostInfoTest::diskNumberOfDevice()
{
    QFETCH(QString, device);
    QFETCH(qint64, number);
    QCOMPARE(RvHostInformation::diskNumberOfDevice(device), number);
}

void HostInfoTest::bootDiskIsCachedOnceFound()
{
    qint64 cache = -100;
    int reads = 0;
    const auto device = [&] {
        ++reads;
        return QStringLiteral("/dev/disk3s1");
    };
    QCOMPARE(RvHostInformation::bootDiskBSDNum(cache, device), qint64(3));
    QCOMPARE(cache, qint64(3));
    QCOMPARE(RvHostInformation::bootDiskBSDNum(cache, device), qint64(3));
    QCOMPARE(reads, 1);
}

void HostInfoTest::bootDiskIsLookedUpAgainWhenNotFound()
{
    qint64 cache = -100;
    int reads = 0;
    QString answer = QStringLiteral("/dev/sda1");
    const auto device = [&] {
        ++reads;
        return answer;
    };
    QCOMPARE(RvHostInformation::bootDiskBSDNum(cache, device), qint64(-1));
    QCOMPARE(RvHostInformation::bootDiskBSDNum(cache, device), qint64(-1));
    QCOMPARE(reads, 2);
    QCOMPARE(cache, qint64(-100));
    // Once a disk device shows up, it is found and kept.
    answer = QStringLiteral("/dev/disk0s2");
    QCOMPARE(RvHostInformation::bootDiskBSDNum(cache, device), qint64(0));
    answer = QStringLiteral("/dev/disk9s9");
    QCOMPARE(RvHostInformation::bootDiskBSDNum(cache, device), qint64(0));
    QCOMPARE(reads, 3);
}

void HostInfoTest::addDiskToList()
{
    QList<QVariantMap> list;
    RvHostInformation::_addDiskToList(list, 2, QStringLiteral("Name"), QStringLiteral("Internal"));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].value("DiskNumber").toLongLong(), 2);
    QCOMPARE(list[0].value("DiskName").toString(), QStringLiteral("Name (Internal)"));

    // The same number again: the new name goes in front, the detail is unused.
    RvHostInformation::_addDiskToList(list, 2, QStringLiteral("Other"), QStringLiteral("External"));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].value("DiskName").toString(), QStringLiteral("Other, Name (Internal)"));

    // Another number without a detail: the name alone.
    RvHostInformation::_addDiskToList(list, 3, QStringLiteral("Backup"), QString());
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[1].value("DiskName").toString(), QStringLiteral("Backup"));
    QCOMPARE(list[0].value("DiskName").toString(), QStringLiteral("Other, Name (Internal)"));
}

void HostInfoTest::addDiskMatchesNumbersNumerically()
{
    // Entries made elsewhere may hold the number as another numeric type;
    // every matching entry is renamed.
    QList<QVariantMap> list{{{"DiskNumber", 5.0}, {"DiskName", "A"}},
                            {{"DiskNumber", 6}, {"DiskName", "B"}},
                            {{"DiskNumber", qulonglong(5)}, {"DiskName", "C"}}};
    RvHostInformation::_addDiskToList(list, 5, QStringLiteral("N"), QStringLiteral("detail"));
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].value("DiskName").toString(), QStringLiteral("N, A"));
    QCOMPARE(list[1].value("DiskName").toString(), QStringLiteral("B"));
    QCOMPARE(list[2].value("DiskName").toString(), QStringLiteral("N, C"));
}

void HostInfoTest::growlLocation()
{
    VolumeFixture volume;
    QVERIFY(RvHostInformation::growlInstallURL().isEmpty());

    const QString local = "/Library/PreferencePanes/Growl.prefPane/Contents/Resources/GrowlHelperApp.app";
    QVERIFY(volume.makeFolder(local));
    QCOMPARE(RvHostInformation::growlInstallURL(), QUrl::fromLocalFile(local));

    const QString user = "/Users/tester/Library/PreferencePanes/Growl.prefPane/Contents/Resources/GrowlHelperApp.app";
    QVERIFY(volume.makeFolder(user));
    QCOMPARE(RvHostInformation::growlInstallURL(), QUrl::fromLocalFile(user));

    QVERIFY(volume.makeFolder("/Applications/Growl.app"));
    QCOMPARE(RvHostInformation::growlInstallURL(), QUrl::fromLocalFile("/Applications/Growl.app"));
}

void HostInfoTest::realMachineAnswers()
{
    const QString v4 = RvHostInformation::ipAddress(false);
    QCOMPARE(QHostAddress(v4).protocol(), QAbstractSocket::IPv4Protocol);
    const QString v6 = RvHostInformation::ipAddress(true);
    QCOMPARE(QHostAddress(v6).protocol(), QAbstractSocket::IPv6Protocol);

    // The mount table's answer agrees with findmnt's, a reader of its own.
    const QString findmnt = QStandardPaths::findExecutable(QStringLiteral("findmnt"));
    if (!findmnt.isEmpty()) {
        QProcess process;
        process.start(findmnt, {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("SOURCE"), QStringLiteral("/")});
        QVERIFY(process.waitForFinished(30000));
        // findmnt shows a bind mount's folder as "device[/folder]".
        const QString source = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
        QCOMPARE(RvHostInformation::rootDevice(), source.section(QLatin1Char('['), 0, 0));
    }
    const qint64 disk = RvHostInformation::bootDiskBSDNum();
    QCOMPARE(disk, RvHostInformation::diskNumberOfDevice(RvHostInformation::rootDevice()));
    QCOMPARE(RvHostInformation::bootDiskBSDNum(), disk);

    QCOMPARE(RvHostInformation::machineType(), platform::Host::machineModel());
    QCOMPARE(RvHostInformation::isUserAdmin(), platform::Host::isUserAdmin());
}

QTEST_GUILESS_MAIN(HostInfoTest)
#include "tst_hostinfo.moc"
