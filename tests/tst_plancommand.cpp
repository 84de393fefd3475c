#include "dorvane/ProtectionStatus.h"
#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/planning/PlanTree.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "support/BuiltVolume.h"
#include "support/CommandLineRun.h"

#include "VolumeGenerator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace dorvane;

// `dorvane plan` on the demo volume: the plan it prints is the one the
// planner makes for the window, and it stops where the window's checks stop.
class PlanCommandTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_volume.reset(); }   // its protected items too

    void jsonIsThePlannersPlan();
    void textShowsTheSheetsTree();
    void vendorUninstallerStopsWithTheReason();
    void stopsWithTheReason_data();
    void stopsWithTheReason();
    void removesNothing();

private:
    CommandLineRun run(const QString &root, const QStringList &arguments) const
    {
        return runCommandLine(root, QStringLiteral("/Users/demo"), arguments);
    }
    UninstallPlan planInProcess(const QStringList &identifiers) const
    {
        return UninstallPlanner::plan(recordsNamed(m_catalogue->installerPackages, identifiers), *m_catalogue,
                                      ProtectionStatus::isRootless());
    }

    std::unique_ptr<VolumeFixture> m_volume;
    std::optional<Catalogue> m_catalogue;
};

namespace {

QStringList strings(const QJsonValue &value)
{
    QStringList out;
    for (const QJsonValue &item : value.toArray())
        out << item.toString();
    return out;
}

} // namespace

void PlanCommandTest::initTestCase()
{
    m_volume = std::make_unique<VolumeFixture>(QStringLiteral("/Users/demo"));
    volumegen::VolumeOptions options;
    options.protect = true;   // taken when the test runs as root
    QString error;
    QVERIFY2(volumegen::buildDemoVolume(m_volume->root(), options, nullptr, &error), qPrintable(error));
    StartUp::registerDefaults();
    m_catalogue = CatalogueScanner::scan(QStringLiteral("minus.png"));
    QVERIFY(m_catalogue.has_value());
}

// The planner's plan, field by field, for a selection that fills every list:
// a shared file and generated items (Ledger), ignored and missing items
// (the command-line tool), protected ones (the driver).
void PlanCommandTest::jsonIsThePlannersPlan()
{
    const QStringList identifiers{"com.northwind.pkg.Ledger", "com.oakum.pkg.cli", "com.northwind.pkg.AudioDriver"};
    const CommandLineRun result = run(m_volume->root(), QStringList{"plan"} + identifiers + QStringList{"--json"});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject json = QJsonDocument::fromJson(result.out).object();
    QCOMPARE(json.size(), 11);
    QCOMPARE(json.value("caseInsensitiveVolume"), QJsonValue(false));
    const UninstallPlan plan = planInProcess(identifiers);
    const std::pair<const char *, QStringList> lists[] = {
        {"removeFiles", platform::toStrings(plan.removeFiles)},       {"removeFolders", platform::toStrings(plan.removeFolders)},
        {"removeRemaining", platform::toStrings(plan.removeRemaining)}, {"removeGenerated", platform::toStrings(plan.removeGenerated)},
        {"ignoredFiles", platform::toStrings(plan.ignoredFiles)},     {"missingPaths", platform::toStrings(plan.missingPaths)},
        {"protectedPaths", platform::toStrings(plan.protectedPaths)}};
    for (const auto &[key, list] : lists) {
        QVERIFY2(!list.isEmpty(), key);
        QCOMPARE(strings(json.value(QLatin1String(key))), list);
    }

    const QJsonArray shared = json.value("sharedFiles").toArray();
    QCOMPARE(shared.size(), plan.sharedFiles.size());
    QVERIFY(!shared.isEmpty());
    for (qsizetype i = 0; i < shared.size(); ++i) {
        QCOMPARE(shared.at(i).toObject().value("path").toString(), plan.sharedFiles.at(i).path.toString());
        QCOMPARE(strings(shared.at(i).toObject().value("usedBy")), plan.sharedFiles.at(i).usedBy);
    }
    const QJsonObject sizes = json.value("sizes").toObject();
    QCOMPARE(sizes.size(), 3);
    QCOMPARE(quint64(sizes.value("removeBytes").toDouble()), plan.sizes.removeBytes);
    QCOMPARE(quint64(sizes.value("ignoredBytes").toDouble()), plan.sizes.ignoredBytes);
    QCOMPARE(quint64(sizes.value("sharedBytes").toDouble()), plan.sizes.sharedBytes);

    const QJsonArray tree = json.value("uninstallFiles").toArray();
    QCOMPARE(tree.size(), plan.uninstallFiles.size());
    for (qsizetype i = 0; i < tree.size(); ++i) {
        const QJsonObject section = tree.at(i).toObject();
        QCOMPARE(section.value("name").toString(), plan.uninstallFiles.at(i).name);
        QStringList leaves;
        for (const QJsonValue &leaf : section.value("children").toArray())
            leaves << leaf.toObject().value("name").toString();
        QCOMPARE(leaves, plan.uninstallFiles.at(i).children);
    }
}

void PlanCommandTest::textShowsTheSheetsTree()
{
    const QStringList identifiers{"com.northwind.pkg.Ledger", "com.oakum.pkg.cli"};
    const CommandLineRun result = run(m_volume->root(), QStringList{"plan"} + identifiers);
    QCOMPARE(result.exitCode, 0);
    const UninstallPlan plan = planInProcess(identifiers);
    QVERIFY(plan.uninstallFiles.size() >= 5);

    QStringList expected;
    for (const PlanSection &section : plan.uninstallFiles) {
        expected << section.name;
        for (const QString &leaf : section.children)
            expected << "    " + leaf;
    }
    expected << QStringLiteral("\u2022 Folders that will be removed if they are empty (%1 folders)")
                    .arg(plan.removeFolders.size());
    for (const QString &folder : platform::toStrings(plan.removeFolders))
        expected << "    " + folder;
    expected << QStringLiteral("Bytes: %1 to remove, %2 ignored, %3 shared")
                    .arg(plan.sizes.removeBytes)
                    .arg(plan.sizes.ignoredBytes)
                    .arg(plan.sizes.sharedBytes);
    QCOMPARE(QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts), expected);
}

// The command line answers "Cancel" to the vendor's question, so the plan
// stops, and says so.
void PlanCommandTest::vendorUninstallerStopsWithTheReason()
{
    QTemporaryDir dir;
    const QString root = dir.filePath("volume");
    volumegen::VolumeBuilder builder(root, QStringLiteral("/Users/demo"));
    builder.addReceipt(package("com.avira.pkg.AviraMacSecurity",
                               {volumegen::PathItem::file("/Library/Application Support/Avira/engine.dat", 100)}));
    builder.addFile("/Applications/Utilities/Avira-Uninstall.app/Contents/MacOS/Avira-Uninstall", "#!/bin/sh\n");
    QString error;
    QVERIFY2(builder.write(&error), qPrintable(error));

    const CommandLineRun result = run(root, {"plan", "com.avira.pkg.AviraMacSecurity"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(result.err.contains("[Open Uninstaller] [Cancel] [Uninstall Anyway] -> Cancel"), result.err.constData());
    QVERIFY2(result.err.contains("dorvane: nothing planned: 'Avira' brings its own uninstaller"),
             result.err.constData());
}

// Mistakes in the call end with 2, a refused selection with 1; nothing is printed.
void PlanCommandTest::stopsWithTheReason_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("essential package") << QStringList{"plan", "com.saltmarsh.Tide", "com.apple.pkg.BSD", "--json"} << 1
                                       << QByteArray("dorvane: nothing planned: You can't uninstall the essential "
                                                     "system package 'com.apple.pkg.BSD' as this would make");
    QTest::newRow("unknown identifier") << QStringList{"plan", "com.northwind.pkg.Ledger", "no.such.package"} << 2
                                        << QByteArray("no listed package has the identifier no.such.package");
    QTest::newRow("kept-out package") << QStringList{"plan", "com.apple.pkg.Essentials"} << 2
                                      << QByteArray("no listed package has the identifier com.apple.pkg.Essentials");
    QTest::newRow("no identifier") << QStringList{"plan", "--json"} << 2
                                   << QByteArray("usage: dorvane plan ID... [--json]");
    QTest::newRow("unknown option") << QStringList{"plan", "--jsn", "com.northwind.pkg.Ledger"} << 2
                                    << QByteArray("usage: dorvane plan");
}

void PlanCommandTest::stopsWithTheReason()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    const CommandLineRun result = run(m_volume->root(), arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(result.err.contains(message), result.err.constData());
}

void PlanCommandTest::removesNothing()
{
    const QString preferences = platform::Volume::current()->physicalPath(platform::volumePath(platform::UserDefaults::standard().logicalFilePath()).value());
    const QMap<QString, QString> before = treeSnapshot(m_volume->root(), preferences);
    QStringList everything{"plan", "--json"};
    for (const PackageRecord &record : m_catalogue->installerPackages) {
        if (!record.packageIdentifier().startsWith("com.apple.pkg.BSD"))
            everything << record.packageIdentifier();
    }
    const CommandLineRun result = run(m_volume->root(), everything);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(QJsonDocument::fromJson(result.out).object().value("removeFiles").toArray().size() > 100);
    const QMap<QString, QString> after = treeSnapshot(m_volume->root(), preferences);
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(after.value(it.key()), it.value());
}

QTEST_GUILESS_MAIN(PlanCommandTest)
#include "tst_plancommand.moc"
