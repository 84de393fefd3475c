#include "dorvane/Settings.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "kestrum/Log.h"
#include "platform/Bundle.h"
#include "support/LogRing.h"
#include "support/ScriptedPresenter.h"
#include "support/UrlRecorder.h"
#include "support/VolumeFixture.h"

#include "VolumeGenerator.h"

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
    void initTestCase();
    void init();
    void cleanup();

    void essentialPackagesAreRefused();
    void essentialCheckComesFirst();
    void receiptGoneSinceTheScan_data();
    void receiptGoneSinceTheScan();
    void legacyBundlesAreNotChecked();
    void aviraWithoutItsUninstallerIsNotAsked();
    void vendorUninstallers_data();
    void vendorUninstallers();
    void thirdButtonGoesOnWithTheNextRecord();

private:
    QList<PackageRecord> scan(const QList<Package> &packages);
    PackageRecord record(const QString &identifier) const;
    ScriptedPresenter &script() const { return m_script->presenter(); }

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<volumegen::VolumeBuilder> m_builder;
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

void UninstallChecksTest::initTestCase()
{
    Settings::registerDefaults();
}

void UninstallChecksTest::init()
{
    m_volume = std::make_unique<VolumeFixture>();
    m_builder = std::make_unique<volumegen::VolumeBuilder>(m_volume->root(), m_volume->home());
    m_script = std::make_unique<ScriptedPresenterScope>();
    m_urls = std::make_unique<UrlRecorder>();
}

void UninstallChecksTest::cleanup()
{
    m_urls.reset();
    m_script.reset();
    m_builder.reset();
    m_volume.reset();
    m_records.clear();
}

QList<PackageRecord> UninstallChecksTest::scan(const QList<Package> &packages)
{
    for (const Package &item : packages)
        m_builder->addReceipt(item);
    QString error;
    if (!m_builder->write(&error))
        qWarning("volume not written: %s", qPrintable(error));
    const std::optional<Catalogue> catalogue = CatalogueScanner::scan(QStringLiteral("minus.png"));
    m_records = catalogue ? catalogue->installerPackages : QList<PackageRecord>();
    return m_records;
}

PackageRecord UninstallChecksTest::record(const QString &identifier) const
{
    for (const PackageRecord &item : m_records) {
        if (item.packageIdentifier() == identifier)
            return item;
    }
    return PackageRecord();
}

void UninstallChecksTest::essentialPackagesAreRefused()
{
    const QStringList essentials{"com.apple.pkg.AdditionalEssentials", "com.apple.pkg.Essentials",
                                 "com.apple.pkg.BaseSystemBinaries", "com.apple.pkg.BaseSystemResources",
                                 "com.apple.pkg.BSD"};
    for (const QString &essential : essentials) {
        ScriptedPresenterScope script;
        UninstallChecks checks;
        // Named by the first essential one in selection order.
        QVERIFY(!checks.mayPlan({bare("com.example.fine"), bare(essential), bare("com.apple.pkg.BSD")}));
        QCOMPARE(script->questions().size(), 1);
        const kestrum::AlertQuestion question = script->questions().first();
        const QString message = "You can't uninstall the essential system package '" + essential
                                + "' as this would make your system unusable. Please take more care when "
                                  "uninstalling in the future or you may damage your system.";
        QCOMPARE(question.title, QStringLiteral("Error"));
        QCOMPARE(question.message, message);
        QCOMPARE(question.buttons, QStringList{"OK"});
        QCOMPARE(checks.stopReason(), message);
    }
    // Identifiers are compared exactly: these are not essential and go on to
    // the next check, where their missing receipts stop them.
    script().enqueueButton(1001);
    UninstallChecks checks;
    QVERIFY(!checks.mayPlan({bare("com.apple.pkg.BSDX"), bare("com.apple.pkg.bsd")}));
    QCOMPARE(script().questions().size(), 1);
    QVERIFY(script().questions().first().message.startsWith(
        "It seems you have already manually uninstalled parts of the package 'com.apple.pkg.BSDX'"));
}

void UninstallChecksTest::essentialCheckComesFirst()
{
    // A record whose receipt is gone and an essential one: only the refusal.
    UninstallChecks checks;
    QVERIFY(!checks.mayPlan({bare("com.example.gone"), bare("com.apple.pkg.Essentials")}));
    QCOMPARE(script().questions().size(), 1);
    QVERIFY(script().questions().first().message.contains("'com.apple.pkg.Essentials'"));
    QVERIFY(!wasLogged(kestrum::LogError, "alert_feedback"));
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
    QString logged;
    for (const QString &entry : loggedMessages(kestrum::LogError)) {
        const qsizetype start = entry.indexOf(prefix);
        if (start >= 0)
            logged = entry.mid(start + prefix.size());
    }
    QVERIFY2(!logged.isEmpty(), qPrintable(loggedMessages(kestrum::LogError).join('\n')));
    const qsizetype lineBreak = logged.indexOf('\n');
    QStringList entries = logged.left(lineBreak).split(", ");
    QStringList onDisk = QDir(m_volume->physical(PackageHelperNative::kSystemReceipts))
                             .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.sort();
    onDisk.sort();
    QCOMPARE(entries, onDisk);
    QVERIFY(onDisk.contains("com.example.kept.bom"));
    QCOMPARE(logged.mid(lineBreak + 1), partly.description());
}

void UninstallChecksTest::legacyBundlesAreNotChecked()
{
    Package legacy = package("com.example.legacy");
    legacy.location = Package::Legacy;
    scan({legacy});
    const PackageRecord bundle = record("com.example.legacy");
    QVERIFY(!bundle.pkgPath().isEmpty());
    QVERIFY(QFile::remove(m_volume->physical(bundle.bomPath())));
    UninstallChecks checks;
    QVERIFY(checks.mayPlan({bundle}));
    QVERIFY(script().questions().isEmpty());
}

void UninstallChecksTest::aviraWithoutItsUninstallerIsNotAsked()
{
    scan({package(kAvira)});
    UninstallChecks checks;
    QVERIFY(checks.mayPlan({record(kAvira)}));
    QVERIFY(script().questions().isEmpty());
}

void UninstallChecksTest::vendorUninstallers_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("uninstaller");   // made on the volume when not empty
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("mayPlan");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("opened");        // the URL the first button opens

    const QString avira = QStringLiteral(
        "Dorvane has detected that you are trying to uninstall 'Avira', which also has a native Uninstaller "
        "included. Using a native Uninstaller is always preferable. Would you like open the open the native 'Avira' "
        "Uninstaller now?");
    const QStringList aviraButtons{"Open Uninstaller", "Cancel", "Uninstall Anyway"};
    const QString aviraApp = QUrl::fromLocalFile("/Applications/Utilities/Avira-Uninstall.app").toString();
    QTest::newRow("Avira: open") << kAvira << kAviraUninstaller << 1000 << false << avira << aviraButtons << aviraApp;
    QTest::newRow("Avira: cancel") << kAvira << kAviraUninstaller << 1001 << false << avira << aviraButtons << "";
    QTest::newRow("Avira: anyway") << kAvira << kAviraUninstaller << 1002 << true << avira << aviraButtons << "";

    const QString included = QStringLiteral(
        "Dorvane is currently unable to uninstall 'CrashPlan'. However, a native Uninstaller is included with "
        "'CrashPlan'. Would you like open the open the native 'CrashPlan' Uninstaller now?");
    const QStringList includedButtons{"Open Uninstaller", "Cancel", "Try Uninstall Anyway"};
    const QString crashPlanApp = QUrl::fromLocalFile("/Applications/CrashPlan.app/Contents/.Uninstall.app").toString();
    QTest::newRow("CrashPlan included: open") << kCrashPlan << kCrashPlanUninstaller << 1000 << false << included
                                              << includedButtons << crashPlanApp;
    QTest::newRow("CrashPlan included: cancel") << kCrashPlan << kCrashPlanUninstaller << 1001 << false << included
                                                << includedButtons << "";
    QTest::newRow("CrashPlan included: anyway") << kCrashPlan << kCrashPlanUninstaller << 1002 << true << included
                                                << includedButtons << "";

    const QString download = QStringLiteral(
        "Dorvane is currently unable to uninstall 'CrashPlan'. However, a native Uninstaller is available in the "
        "'CrashPlan' download disk image. Would you like open the open the 'CrashPlan' download website now?");
    const QStringList downloadButtons{"Open download page", "Cancel", "Try Uninstall Anyway"};
    QTest::newRow("CrashPlan download: open") << kCrashPlan << "" << 1000 << false << download << downloadButtons
                                              << UninstallChecks::kCrashPlanDownloadPage;
    QTest::newRow("CrashPlan download: cancel") << kCrashPlan << "" << 1001 << false << download << downloadButtons
                                                << "";
    QTest::newRow("CrashPlan download: anyway") << kCrashPlan << "" << 1002 << true << download << downloadButtons
                                                << "";
}

void UninstallChecksTest::vendorUninstallers()
{
    QFETCH(QString, identifier);
    QFETCH(QString, uninstaller);
    QFETCH(int, answer);
    QFETCH(bool, mayPlan);
    QFETCH(QString, message);
    QFETCH(QStringList, buttons);
    QFETCH(QString, opened);

    if (!uninstaller.isEmpty())
        m_builder->addFile(uninstaller, "#!/bin/sh\n");
    scan({package("com.example.before"), package(identifier)});
    script().enqueueButton(answer);

    UninstallChecks checks;
    QCOMPARE(checks.mayPlan({record("com.example.before"), record(identifier)}), mayPlan);
    QCOMPARE(script().questions().size(), 1);
    const kestrum::AlertQuestion question = script().questions().first();
    QCOMPARE(question.title, platform::Bundle::main().infoValue("CFBundleName").toString());
    QCOMPARE(question.message, message);
    QCOMPARE(question.buttons, buttons);
    // The uninstaller is opened where it lies on the volume.
    const QUrl onVolume = QUrl(opened).isLocalFile() ? QUrl::fromLocalFile(m_volume->physical(QUrl(opened).path()))
                                                     : QUrl(opened);
    QCOMPARE(m_urls->urls(), opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{onVolume});
    QCOMPARE(checks.stopReason().isEmpty(), mayPlan);
}

void UninstallChecksTest::thirdButtonGoesOnWithTheNextRecord()
{
    m_builder->addFile(kAviraUninstaller, "#!/bin/sh\n");
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
}

QTEST_GUILESS_MAIN(UninstallChecksTest)
#include "tst_uninstallchecks.moc"
