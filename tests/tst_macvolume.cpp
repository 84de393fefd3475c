// Uninstalls on a volume that looks names up as the Mac does (tools/macfs),
// with the real command line and the real helper: a second spelling of a
// kept file never lets it go.

#include "dorvane/Settings.h"
#include "dorvane/toolclient/HelperInstaller.h"
#include "kestrum/DefaultsKey.h"
#include "platform/DaemonJob.h"
#include "platform/NameFolding.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/CommandLineRun.h"
#include "support/FixturePackages.h"
#include "support/MacFsMount.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

using volumegen::PathItem;

namespace {

const QString kHome = QStringLiteral("/Users/tester");
const QString kKit = QStringLiteral("com.twist.pkg.Kit");
const QString kTool = QStringLiteral("com.twist.pkg.Tool");
const QString kAlias = QStringLiteral("com.twist.pkg.Alias");

const QString kFramework = QStringLiteral("Library/Frameworks/TwistKit.framework/Versions/A/TwistKit");
const QString kCafe = QStringLiteral("Library/Application Support/Caf\u00e9/shared.dat");
const QString kKitOwn = QStringLiteral("Library/Twist/kit.dat");
const QString kToolOwn = QStringLiteral("Library/TwistTool/tool.dat");
const QString kBinary = QStringLiteral("usr/bin/twisttool");
const QString kSystemFile = QStringLiteral("System/Library/Twist/twist.dat");
const QString kUserIgnored = QStringLiteral("Library/Twist Data/state.dat");

QStringList strings(const QJsonValue &value)
{
    QStringList out;
    for (const QJsonValue &item : value.toArray())
        out.append(item.isObject() ? item.toObject().value("path").toString() : item.toString());
    return out;
}

// The list holds the path in some spelling the volume takes for it.
bool holdsSpelling(const QStringList &list, const QString &logical)
{
    return std::any_of(list.cbegin(), list.cend(),
                       [&](const QString &path) { return platform::isSameName(path, logical); });
}

} // namespace

class MacVolumeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void otherSpellingsAreKept();

private:
    bool exists(const QString &logical) const
    {
        return QFileInfo::exists(m_mount->mountPoint() + QLatin1Char('/') + logical);
    }
    CommandLineRun cli(const QStringList &arguments) const
    {
        return runCommandLine(m_mount->mountPoint(), kHome, arguments);
    }

    std::unique_ptr<VolumeFixture> m_backing;
    std::unique_ptr<MacFsMount> m_mount;
};

// Kit installs its files; Tool names three of them again in other
// spellings (case, Unicode form) and files in ignored folders in spellings
// of its own; Alias names Kit's own file in capitals.
void MacVolumeTest::init()
{
    m_backing = std::make_unique<VolumeFixture>(kHome);
    m_mount = std::make_unique<MacFsMount>(m_backing->root());
    if (!m_mount->skipReason().isEmpty())
        QSKIP(qPrintable(m_mount->skipReason()));
    volumegen::VolumeBuilder builder(m_mount->mountPoint(), kHome);
    builder.addStandardFolders();
    builder.addReceipt(package(kKit, {PathItem::file(kFramework, 10), PathItem::file(kCafe, 20),
                                      PathItem::file(kKitOwn, 30)}));
    builder.addReceipt(package(
        kTool, {PathItem::file("Library/frameworks/twistkit.framework/VERSIONS/a/twistkit", 10),
                PathItem::file("library/application support/CAFE\u0301/Shared.dat", 20),
                PathItem::file("usr/BIN/twisttool", 5), PathItem::file("system/library/twist/twist.dat", 5),
                PathItem::file("library/TWIST DATA/state.dat", 5), PathItem::file(kToolOwn, 5)}));
    builder.addReceipt(package(kAlias, {PathItem::file("LIBRARY/TWIST/KIT.DAT", 30)}));
    QString error;
    QVERIFY2(builder.write(&error), qPrintable(error));
    // The user protects a folder of their own, in the spelling they typed.
    QVERIFY(platform::Volume::configure(m_mount->mountPoint(), kHome));
    platform::UserDefaults::standard().reload();
    kestrum::DefaultsKey(dorvane::Settings::kIgnoredSystemFolders)
        .setDefaultArray(dorvane::Settings::defaultIgnoredSystemFolders() + QStringList{"/Library/Twist Data/"});
    QVERIFY(platform::Volume::current()->isCaseInsensitive());
}

void MacVolumeTest::cleanup()
{
    if (m_mount && m_mount->isMounted()) {
        platform::Volume::configure(m_mount->mountPoint(), kHome);
        platform::DaemonJob::stop(dorvane::HelperInstaller::places());
        // The volume's door holds its root open, which would keep the
        // mount busy and macfs waiting after the unmount.
        platform::Volume::configure(m_backing->root(), kHome);
    }
    m_mount.reset();
    m_backing.reset();
}

void MacVolumeTest::otherSpellingsAreKept()
{
    const QStringList kept{kFramework, kCafe, kBinary, kSystemFile, kUserIgnored, kKitOwn};
    for (const QString &path : kept + QStringList{kToolOwn})
        QVERIFY2(exists(path), qPrintable(path));

    CommandLineRun run = cli({"uninstall", kTool, "--json", "--yes"});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const QJsonObject plan = QJsonDocument::fromJson(run.out).object().value("plan").toObject();
    QCOMPARE(plan.value("caseInsensitiveVolume"), QJsonValue(true));
    const QStringList shared = strings(plan.value("sharedFiles"));
    const QStringList ignored = strings(plan.value("ignoredFiles"));
    QCOMPARE(shared.size(), 2);
    QVERIFY(holdsSpelling(shared, "/" + kFramework) && holdsSpelling(shared, "/" + kCafe));
    QCOMPARE(ignored.size(), 3);
    for (const QString &path : {kBinary, kSystemFile, kUserIgnored})
        QVERIFY2(holdsSpelling(ignored, "/" + path), qPrintable(path));
    QCOMPARE(strings(plan.value("removeFiles")), QStringList{"/" + kToolOwn});
    for (const QString &path : kept)
        QVERIFY2(exists(path), qPrintable(path));
    QVERIFY(!exists(kToolOwn));

    // Kit and Alias name Kit's own file in two spellings, and the disk now
    // spells it in a third: together they remove that file, and only it.
    const QString root = m_mount->mountPoint() + QLatin1Char('/');
    QVERIFY(QFile::rename(root + kKitOwn, root + "Library/Twist/KiT.dAt"));
    QVERIFY(QFile(root + "Library/Twist/other.dat").open(QIODevice::WriteOnly));
    run = cli({"uninstall", kKit, kAlias, "--json", "--yes"});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    for (const QString &path : {kFramework, kCafe, kKitOwn})
        QVERIFY2(!exists(path), qPrintable(path));
    QVERIFY(exists("Library/Twist/other.dat"));
    for (const QString &path : {kBinary, kSystemFile, kUserIgnored})
        QVERIFY2(exists(path), qPrintable(path));
}

QTEST_GUILESS_MAIN(MacVolumeTest)
#include "tst_macvolume.moc"
