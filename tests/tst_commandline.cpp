#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/catalogue/PackageFilter.h"
#include "dorvane/catalogue/PackageSize.h"
#include "kestrum/FileSystem.h"
#include "support/CommandLineRun.h"
#include "support/VolumeFixture.h"

#include "VolumeGenerator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// The command line on the demo volume: what it prints must be what the
// receipt store and the catalogue hold.
class CommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_volume = std::make_unique<VolumeFixture>(QStringLiteral("/Users/demo"));
        QString error;
        QVERIFY2(volumegen::buildDemoVolume(m_volume->root(), {}, nullptr, &error), qPrintable(error));
        dorvane::StartUp::registerDefaults();
    }
    void receiptsFlagTheDamagedAndLeaveOutTheBillless();
    void listMatchesTheCatalogue_data();
    void listMatchesTheCatalogue();
    void filesMarkTheMissing();
    void exitCodesAndMessages_data();
    void exitCodesAndMessages();

private:
    std::unique_ptr<VolumeFixture> m_volume;
    QJsonDocument run(const QStringList &arguments, int *exitCode, QByteArray *err = nullptr)
    {
        const CommandLineRun run = runCommandLine(m_volume->root(), m_volume->home(), arguments);
        *exitCode = run.exitCode;
        if (err)
            *err = run.err;
        return QJsonDocument::fromJson(run.out);
    }
};

void CommandLineTest::receiptsFlagTheDamagedAndLeaveOutTheBillless()
{
    int exitCode = -1;
    const QJsonArray receipts = run({"receipts", "--json"}, &exitCode).array();
    QCOMPARE(exitCode, 0);
    QVERIFY(receipts.size() > 20);
    QStringList identifiers;
    for (const QJsonValue &value : receipts) {
        const QJsonObject receipt = value.toObject();
        identifiers << receipt.value("PackageIdentifier").toString();
        QVERIFY(receipt.value("InstallLocation").toString().endsWith('/'));
        QVERIFY(receipt.contains("Files"));
        QVERIFY(receipt.contains("BOMPath"));
        if (receipt.contains("InstallDate"))
            QVERIFY(QDateTime::fromString(receipt.value("InstallDate").toString(), Qt::ISODate).isValid());
    }
    // The one whose bill cannot be opened is flagged and lists nothing.
    const QJsonObject prism = receipts.at(identifiers.indexOf("com.lumenfold.Prism")).toObject();
    QCOMPARE(prism.value("IsDamaged").toBool(), true);
    QVERIFY(prism.value("Files").toArray().isEmpty());
    // The receipt without its bill is not listed at all.
    QVERIFY(!identifiers.contains("net.quillon.InkwellDictionaries"));
    // Files are absolute paths under the install folder, in bill order.
    const QJsonObject ledger = receipts.at(identifiers.indexOf("com.northwind.pkg.Ledger")).toObject();
    const QJsonArray files = ledger.value("Files").toArray();
    QVERIFY(!files.isEmpty());
    for (const QJsonValue &file : files)
        QVERIFY(file.toString().startsWith(ledger.value("InstallLocation").toString()));
}

void CommandLineTest::listMatchesTheCatalogue_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("search");
    QTest::newRow("all") << QStringList{} << int(dorvane::PackageFilter::Mode::All) << QString();
    QTest::newRow("apps") << QStringList{"--apps"} << int(dorvane::PackageFilter::Mode::Applications) << QString();
    QTest::newRow("defunct") << QStringList{"--defunct"} << int(dorvane::PackageFilter::Mode::Defunct) << QString();
    QTest::newRow("search") << QStringList{"--search", "NORTH"} << int(dorvane::PackageFilter::Mode::All)
                            << QStringLiteral("NORTH");
}

void CommandLineTest::listMatchesTheCatalogue()
{
    QFETCH(QStringList, options);
    QFETCH(int, mode);
    QFETCH(QString, search);
    int exitCode = -1;
    const QJsonArray listed = run(QStringList{"list", "--json"} + options, &exitCode).array();
    QCOMPARE(exitCode, 0);
    // Row by row the records the window shows with this filter, each with its size.
    const dorvane::Catalogue catalogue = dorvane::CatalogueScanner::scan("minus.png").value();
    const QList<dorvane::PackageRecord> shown =
        dorvane::PackageFilter::filter(catalogue, dorvane::PackageFilter::Mode(mode), search);
    QCOMPARE(listed.size(), shown.size());
    QVERIFY(!shown.isEmpty());
    for (int i = 0; i < shown.size(); ++i) {
        const QJsonObject object = listed.at(i).toObject();
        const dorvane::PackageRecord &record = shown.at(i);
        QCOMPARE(object.value("PackageIdentifier").toString(), record.packageIdentifier());
        QCOMPARE(object.value("InstallSize").toString(),
                 QString::asprintf("%.1f MB", double(dorvane::PackageSize::bytes(record, catalogue)) / 1048576.0));
        QVERIFY(!object.value("IconPath").toString().isEmpty());
        QCOMPARE(object.value("AppNames").toArray().size(), record.appNames().size());
    }
}

void CommandLineTest::filesMarkTheMissing()
{
    int exitCode = -1;
    const QJsonArray rows = run({"files", "io.halcyonlabs.Drift", "--json"}, &exitCode).array();
    QCOMPARE(exitCode, 0);
    QVERIFY(!rows.isEmpty());
    int missing = 0;
    for (const QJsonValue &value : rows) {
        const QJsonObject row = value.toObject();
        QCOMPARE(row.value("exists").toBool(), kestrum::fileExists(row.value("text").toString()));
        missing += row.value("exists").toBool() ? 0 : 1;
    }
    // Drift's application is gone: its rows are missing.
    QVERIFY(missing > 0);
}

void CommandLineTest::exitCodesAndMessages_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    // The same code as `plan` for the same mistake.
    QTest::newRow("unknown package") << QStringList{"files", "com.example.none"} << 2
                                     << "no listed package has the identifier com.example.none";
    QTest::newRow("damaged package") << QStringList{"files", "com.lumenfold.Prism"} << 0
                                     << "The package is damaged - its contents can not be read";
    QTest::newRow("no package") << QStringList{"files"} << 2 << "usage: dorvane files";
    QTest::newRow("both modes") << QStringList{"list", "--apps", "--defunct"} << 2 << "usage: dorvane list";
    QTest::newRow("unknown option") << QStringList{"receipts", "--xml"} << 2 << "usage: dorvane receipts";
}

void CommandLineTest::exitCodesAndMessages()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    int code = -1;
    QByteArray err;
    run(arguments, &code, &err);
    QCOMPARE(code, exitCode);
    QVERIFY2(err.contains(message.toUtf8()), err.constData());
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
