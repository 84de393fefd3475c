#include "dorvane/Settings.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "kestrum/Log.h"
#include "platform/Bundle.h"
#include "support/BuiltVolume.h"
#include "support/LogRing.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace dorvane;
using volumegen::Package;
using volumegen::PathItem;

// What is asked before an uninstall is planned, answered by script.
class UninstallChecksTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Settings::registerDefaults(); }
    void init()
    {
        m_volume = std::make_unique<BuiltVolume>();
        m_script = std::make_unique<ScriptedPresenterScope>();
        m_urls = std::make_unique<UrlRecorder>();
    }
    void cleanup()
    {
        m_urls.reset();
        m_script.reset();
        m_volume.reset();
        m_records.clear();
    }

    void essentialPackagesAreRefused();
    void receiptGoneSinceTheScan_data();
    void receiptGoneSinceTheScan();
    void nothingAskedWithoutCause();
    void vendorUninstallers_data();
    void vendorUninstallers();
    void thirdButtonGoesOnWithTheNextRecord();

private:
    void scan(const QList<Package> &packages) { m_records = m_volume->scan(packages).installerPackages; }
    PackageRecord record(const QString &identifier) const { return recordsNamed(m_records, {identifier}).value(0); }
    ScriptedPresenter &script() const { return m_script->presenter(); }

    std::unique_ptr<BuiltVolume> m_volume;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<UrlRecorder> m_urls;
    QList<PackageRecord> m_records;
};

namespace {

const QString kAvira = QStringLiteral("com.avira.pkg.AviraMacSecurity");
const QString kCrashPlan = QStringLiteral("com.crashplan.app.pkg");
const QString kAviraUninstaller =
    QStringLiteral("/Applications/Utilities/Avira-Uninstall.app/Contents/MacOS/Avira-Uninstall");
const QString kCrashPlanUninstaller =
    QStringLiteral("/Applications/CrashPlan.app/Contents/.Uninstall.app/Contents/MacOS/applet");

Package package(const QString &identifier)
{
    Package item;
    item.identifier = identifier;
    item.paths = {PathItem::file("/opt/" + identifier + "/file", 10)};
    return item;
}

PackageRecord bare(const QString &identifier)
{
    return PackageRecord(QVariantMap{{PackageKey::PackageIdentifier, identifier}});
}

} // namespace

void UninstallChecksTest::essentialPackagesAreRefused()
{
    // The first essential one in selection order is named, before the
    // receipt check would stop at the record ahead of it.
    UninstallChecks checks;
    QVERIFY(!checks.mayPlan({bare("com.example.gone"), bare("com.apple.pkg.Essentials"), bare("com.apple.pkg.BSD")}));
    QCOMPARE(script().questions().size(), 1);
    const kestrum::AlertQuestion question = script().questions().first();
    const QString message = "You can't uninstall the essential system package 'com.apple.pkg.Essentials' as this "
                            "would make your system unusable. Please take more care when uninstalling in the future "
                            "or you may damage your system.";
    QCOMPARE(question.title, QStringLiteral("Error"));
    QCOMPARE(question.message, message);
    QCOMPARE(question.buttons, QStringList{"OK"});
    QCOMPARE(checks.stopReason(), message);
    QVERIFY(!wasLogged(kestrum::LogError, "alert_feedback"));
    for (const char *essential : {"com.apple.pkg.AdditionalEssentials", "com.apple.pkg.BaseSystemBinaries",
                                  "com.apple.pkg.BaseSystemResources", "com.apple.pkg.BSD"}) {
        QVERIFY(!checks.mayPlan({bare(essential)}));
        QVERIFY(checks.stopReason().contains(QLatin1String(essential)));
    }
    QCOMPARE(script().questions().size(), 5);

    // Identifiers are compared as the volume compares the receipts' names:
    // "bsd" is "BSD" there, "BSDX" another package that goes on to the
    // next check, where its missing receipt stops it.
    QVERIFY(!checks.mayPlan({bare("com.apple.pkg.bsd")}));
    QVERIFY(checks.stopReason().contains(QLatin1String("com.apple.pkg.bsd")));
    script().enqueueButton(1001);
    QVERIFY(!checks.mayPlan({bare("com.apple.pkg.BSDX")}));
    QVERIFY(script().questions().last().message.startsWith(
        "It seems you have already manually uninstalled parts of the package 'com.apple.pkg.BSDX'"));
}

void UninstallChecksTest::receiptGoneSinceTheScan_data()
{
    QTest::addColumn<QString>("deleted");   // which file of the receipt goes
    QTest::newRow("bill") << ".bom";
    QTest::newRow("receipt list") << ".plist";
    QTest::newRow("nothing") << "";
}

void UninstallChecksTest::receiptGoneSinceTheScan()
{
    QFETCH(QString, deleted);
    scan({package("com.example.kept"), package("com.example.partly")});
    const PackageRecord partly = record("com.example.partly");
    QVERIFY(!partly.bomPath().isEmpty());
    if (!deleted.isEmpty()) {
        const QString file = deleted == ".bom" ? partly.bomPath() : partly.plistPath();
        QVERIFY(file.endsWith(deleted));
        QVERIFY(QFile::remove(m_volume->physical(file)));
    }
    script().enqueueButton(1001);   // "Continue": no problem report is composed

    UninstallChecks checks;
    const bool mayPlan = checks.mayPlan({record("com.example.kept"), partly});
    if (deleted.isEmpty()) {
        QVERIFY(mayPlan);
        QVERIFY(script().questions().isEmpty());
        return;
    }
    QVERIFY(!mayPlan);
    const QString message = QStringLiteral(
        "It seems you have already manually uninstalled parts of the package 'com.example.partly' since the scan "
        "has completed. Therefore uninstallation can not continue. If you didn't do so, please send the feedback to "
        "us and we will invesitgate the issue.");
    QCOMPARE(checks.stopReason(), message);
    QCOMPARE(script().questions().size(), 1);
    QVERIFY(script().questions().first().message.startsWith(message));
    QCOMPARE(script().questions().first().buttons, (QStringList{"Send to support", "Continue"}));
    QVERIFY(m_urls->urls().isEmpty());

    // The log keeps the whole details: the receipt folder's entries, then the record.
    const QString prefix = "alert_feedback " + message + ' ';
    const QStringList logged = loggedMessages(kestrum::LogError).filter(prefix);
    QCOMPARE(logged.size(), 1);
    const QString details = logged.first().section(prefix, 1);
    QStringList entries = details.section('\n', 0, 0).split(", ");
    QStringList onDisk = QDir(m_volume->physical(PackageHelperNative::kSystemReceipts))
                             .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.sort();
    onDisk.sort();
    QCOMPARE(entries, onDisk);
    QVERIFY(onDisk.contains("com.example.kept.bom"));
    QCOMPARE(details.section('\n', 1), partly.description());
}

// A legacy bundle keeps its bill inside and is not checked; Avira without
// its uninstaller on the volume is not asked about.
void UninstallChecksTest::nothingAskedWithoutCause()
{
    Package legacy = package("com.example.legacy");
    legacy.location = Package::Legacy;
    scan({legacy, package(kAvira)});
    const PackageRecord bundle = record("com.example.legacy");
    QVERIFY(!bundle.pkgPath().isEmpty());
    QVERIFY(QFile::remove(m_volume->physical(bundle.bomPath())));
    UninstallChecks checks;
    QVERIFY(checks.mayPlan({bundle, record(kAvira)}));
    QVERIFY(script().questions().isEmpty());
}

void UninstallChecksTest::vendorUninstallers_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("uninstaller");   // made on the volume when not empty
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("opened");        // the URL the first button opens, pressed here

    const QString avira = QStringLiteral(
        "Dorvane has detected that you are trying to uninstall 'Avira', which also has a native Uninstaller "
        "included. Using a native Uninstaller is always preferable. Would you like open the open the native 'Avira' "
        "Uninstaller now?");
    const QStringList aviraButtons{"Open Uninstaller", "Cancel", "Uninstall Anyway"};
    const QString aviraApp = QUrl::fromLocalFile("/Applications/Utilities/Avira-Uninstall.app").toString();
    QTest::newRow("Avira: open") << kAvira << kAviraUninstaller << avira << aviraButtons << aviraApp;

    const QString included = QStringLiteral(
        "Dorvane is currently unable to uninstall 'CrashPlan'. However, a native Uninstaller is included with "
        "'CrashPlan'. Would you like open the open the native 'CrashPlan' Uninstaller now?");
    const QStringList includedButtons{"Open Uninstaller", "Cancel", "Try Uninstall Anyway"};
    const QString crashPlanApp = QUrl::fromLocalFile("/Applications/CrashPlan.app/Contents/.Uninstall.app").toString();
    QTest::newRow("CrashPlan included: open") << kCrashPlan << kCrashPlanUninstaller << included
                                              << includedButtons << crashPlanApp;

    const QString download = QStringLiteral(
        "Dorvane is currently unable to uninstall 'CrashPlan'. However, a native Uninstaller is available in the "
        "'CrashPlan' download disk image. Would you like open the open the 'CrashPlan' download website now?");
    const QStringList downloadButtons{"Open download page", "Cancel", "Try Uninstall Anyway"};
    QTest::newRow("CrashPlan download: open") << kCrashPlan << "" << download << downloadButtons
                                              << UninstallChecks::kCrashPlanDownloadPage;
}

void UninstallChecksTest::vendorUninstallers()
{
    QFETCH(QString, identifier);
    QFETCH(QString, uninstaller);
    QFETCH(QString, message);
    QFETCH(QStringList, buttons);
    QFETCH(QString, opened);

    if (!uninstaller.isEmpty())
        m_volume->builder.addFile(uninstaller, "#!/bin/sh\n");
    scan({package("com.example.before"), package(identifier)});
    script().enqueueButton(1000);

    UninstallChecks checks;
    QVERIFY(!checks.mayPlan({record("com.example.before"), record(identifier)}));
    QCOMPARE(script().questions().size(), 1);
    const kestrum::AlertQuestion question = script().questions().first();
    QCOMPARE(question.title, platform::Bundle::main().infoValue("CFBundleName").toString());
    QCOMPARE(question.message, message);
    QCOMPARE(question.buttons, buttons);
    // The uninstaller is opened where it lies on the volume.
    const QUrl onVolume = QUrl(opened).isLocalFile() ? QUrl::fromLocalFile(m_volume->physical(QUrl(opened).path()))
                                                     : QUrl(opened);
    QCOMPARE(m_urls->urls(), QList<QUrl>{onVolume});
    QVERIFY(checks.stopReason().endsWith(QLatin1String("uninstaller, which was opened.")));
}

void UninstallChecksTest::thirdButtonGoesOnWithTheNextRecord()
{
    m_volume->builder.addFile(kAviraUninstaller, "#!/bin/sh\n");
    scan({package(kAvira), package(kCrashPlan)});
    const QList<PackageRecord> selection{record(kAvira), record(kCrashPlan)};

    script().enqueueButton(1002);
    script().enqueueButton(1002);
    UninstallChecks goOn;
    QVERIFY(goOn.mayPlan(selection));
    QCOMPARE(script().questions().size(), 2);

    script().enqueueButton(1002);
    script().enqueueButton(1001);
    UninstallChecks stop;
    QVERIFY(!stop.mayPlan(selection));
    QCOMPARE(script().questions().size(), 4);
    QVERIFY(script().questions().at(3).message.contains("'CrashPlan' download website"));
    QVERIFY(m_urls->urls().isEmpty());
    QCOMPARE(stop.stopReason(),
             QStringLiteral("'CrashPlan' brings its own uninstaller, and uninstalling it anyway was not chosen."));
}

QTEST_GUILESS_MAIN(UninstallChecksTest)
#include "tst_uninstallchecks.moc"
