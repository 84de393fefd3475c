#include "dorvane/Settings.h"
#include "dorvane/StartUp.h"
#include "dorvane/catalogue/CatalogueScanner.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "dorvane/uninstall/UninstallRun.h"
#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "helperwire/HelperRequest.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Kestrum.h"
#include "platform/PropertyList.h"
#include "platform/Volume.h"
#include "support/BuiltVolume.h"
#include "support/CommandLineRun.h"
#include "support/ScriptedPresenter.h"
#include "ui_MainWindow.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <sys/stat.h>
#include <unistd.h>

using namespace dorvane;
using volumegen::PathItem;

namespace {

const QString kKeeper = "com.example.Keeper";
const QString kOther = "com.example.Other";
const QString kApp = "/Applications/Keeper.app";
const QString kData = "/Library/KeepData/data.bin";
const QString kPack = "/Library/KeepData/Pack";   // only files of the package: it moves whole
const QString kDock = "/Users/tester/Library/Preferences/com.apple.dock.plist";
const QString kLoginItem = "/Users/tester/.config/autostart/keeper.desktop";

QString tile(const QString &url)
{
    return "<dict><key>tile-data</key><dict><key>file-data</key><dict><key>_CFURLString</key><string>" + url
           + "</string></dict></dict></dict>";
}

QStringList dockURLs(const QString &physical)
{
    QStringList urls;
    const QVariant domain = platform::PropertyList::readFile(physical);
    for (const QVariant &tile : domain.toMap().value("persistent-apps").toList())
        urls.append(tile.toMap().value("tile-data").toMap().value("file-data").toMap().value("_CFURLString").toString());
    return urls;
}

// The items whose entries differ, each with both entries.
QStringList differences(const QMap<QString, QString> &after, const QMap<QString, QString> &before)
{
    QStringList out;
    for (const QString &path : QSet<QString>(after.keyBegin(), after.keyEnd()) | QSet<QString>(before.keyBegin(), before.keyEnd()))
        if (after.value(path) != before.value(path))
            out.append(path + ": " + before.value(path) + " -> " + after.value(path));
    return out;
}

} // namespace

// Uninstalls that keep what they remove: the helper tool moves it into the
// volume's quarantine, and undo puts it back as it was.
class QuarantineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }
    void init();
    void cleanup();

    void undoGivesBackWhatWent_data();
    void undoGivesBackWhatWent();
    void expiryEmptiesOnlyExpiredRuns();
    void keepingIsASetting();
    void quarantineRequestsAreChecked_data();
    void quarantineRequestsAreChecked();
    void windowUndoesTheLastRun();

private:
    UninstallOutcome uninstall(const QString &identifier);
    QString itemsFolder(const QString &run) const
    {
        return m_volume->physical(helperwire::quarantinePath().child(run).child(u"items").toString());
    }

    std::unique_ptr<BuiltVolume> m_volume;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<DeleteHelper> m_helper;
};

void QuarantineTest::init()
{
    if (::geteuid() != 0)
        QSKIP("the helper tool runs as root, and the test sets owners");
    m_volume = std::make_unique<BuiltVolume>();
    static kestrum::Kestrum shared;
    volumegen::VolumeBuilder &builder = m_volume->builder;
    volumegen::Package keeper =
        package(kKeeper, {PathItem::folder("Library/KeepData"), PathItem::file("Library/KeepData/data.bin", 100),
                          PathItem::folder("Library/KeepData/Sub"), PathItem::file("Library/KeepData/Sub/more.bin", 10),
                          PathItem::file("Library/KeepData/locked.bin", 5), PathItem::link("Library/KeepData/current", "data.bin"),
                          PathItem::folder("Library/KeepData/Pack"), PathItem::file("Library/KeepData/Pack/a.bin", 3),
                          PathItem::file("Library/KeepData/Pack/b.bin", 4)});
    keeper.paths[1].contents = "the data";
    volumegen::AppBundle application = app(kApp, "Keeper", "com.example.Keeper.app");
    application.generated = volumegen::kTypicalGeneratedItems;
    keeper.applications = {application};
    builder.addStandardFolders();
    builder.addReceipt(keeper);
    builder.addReceipt(package(kOther, {PathItem::file("Library/OtherData/other.bin", 7)}));
    builder.addFile(kDock, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>persistent-apps</key><array>"
                               + tile("file:///Applications/Other.app/").toUtf8()
                               + tile("file:///Applications/Keeper.app/").toUtf8() + "</array></dict></plist>");
    builder.addFile(kLoginItem, "[Desktop Entry]\nType=Application\nExec=" + kApp.toUtf8() + "/Contents/MacOS/Keeper\n");
    QString error;
    QVERIFY2(builder.write(&error), qPrintable(error));
    QVERIFY(builder.protect("/Library/KeepData/locked.bin"));
    // Modes and owners that undo must give back as they were.
    QCOMPARE(::chmod(qPrintable(m_volume->physical("/Library/KeepData/Sub")), 0750), 0);
    QCOMPARE(::chown(qPrintable(m_volume->physical("/Library/KeepData/Sub")), 1501, 20), 0);
    QCOMPARE(::chmod(qPrintable(m_volume->physical(kData)), 0600), 0);
    QCOMPARE(::chmod(qPrintable(m_volume->physical(kPack)), 0705), 0);
    QCOMPARE(::chown(qPrintable(m_volume->physical(kPack)), 1501, 20), 0);
    QCOMPARE(::chown(qPrintable(m_volume->physical(kData)), 1501, 20), 0);
    kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(7);
    m_script = std::make_unique<ScriptedPresenterScope>();
    QVERIFY(!DeleteHelper::blessHelper());
    LogFiles::migrateLogfiles();
    m_helper = std::make_unique<DeleteHelper>();
}

void QuarantineTest::cleanup()
{
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    m_helper.reset();
    m_script.reset();
    m_volume.reset();
}

UninstallOutcome QuarantineTest::uninstall(const QString &identifier)
{
    const Catalogue catalogue = *CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
    const QList<PackageRecord> selection = recordsNamed(catalogue.installerPackages, {identifier});
    return UninstallRun(UninstallPlanner::plan(selection, catalogue, true), selection, *m_helper)
        .execute([](const QString &) {});
}

void QuarantineTest::undoGivesBackWhatWent_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("path");       // what is taken or swapped
    QTest::addColumn<QString>("reported");   // what undo then reports
    QTest::newRow("nothing changed") << QString() << QString() << QString();
    QTest::newRow("place taken") << "taken" << kData << kData;
    QTest::newRow("place taken in a folder that moved whole") << "taken" << kPack + "/a.bin" << kPack + "/a.bin";
    QTest::newRow("entry swapped for a link") << "link" << kData << kData;
}

// Uninstall, then undo: every path back with its type, size, mode, owner
// and content, the receipt last, the Dock tile at its place and the login
// item. An item whose place was taken, or whose quarantined entry is not
// what went there, stays where it is and is reported.
void QuarantineTest::undoGivesBackWhatWent()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, path);
    QFETCH(QString, reported);
    const platform::DaemonJob::Places places = HelperInstaller::places();
    const QStringList changing{m_volume->physical("~/Library/Application Support/Dorvane"),
                               m_volume->physical("~/Library/Preferences/com.dorvane.Dorvane.plist"),
                               m_volume->physical(kDock),
                               m_volume->physical(helperwire::quarantinePath().parent().toString()),
                               m_volume->physical(places.socket.toString()), m_volume->physical(places.pidFile.toString())};
    const QMap<QString, QString> before = treeSnapshot(m_volume->root(), QString(), true);

    const UninstallOutcome outcome = uninstall(kKeeper);
    QCOMPARE((*m_script)->questions().size(), 0);
    QVERIFY(!outcome.run.isEmpty());
    QVERIFY(outcome.removedForGood.isEmpty());
    QVERIFY(!QFileInfo::exists(m_volume->physical(kData)));
    QVERIFY(!QFileInfo::exists(m_volume->physical(kApp)));
    QVERIFY(!QFileInfo::exists(m_volume->physical(kLoginItem)));
    QCOMPARE(dockURLs(m_volume->physical(kDock)), QStringList{"file:///Applications/Other.app/"});
    QVERIFY(outcome.keptText().contains(outcome.run));
    QVERIFY(QString::fromUtf8(fileContents(m_volume->physical(outcome.logFile))).contains("Quarantine run: " + outcome.run));
    QString error;
    const std::optional<KeptRun> kept = KeptRuns::describe(*m_helper, outcome.run, &error);
    QVERIFY2(kept, qPrintable(error));
    QCOMPARE(kept->packages, QStringList{kKeeper});
    QCOMPARE(kept->items, outcome.keptItems);
    QVERIFY2(kept->paths.contains(kData) && kept->paths.contains("/Users/tester/Library/Logs/Keeper"),
             qPrintable(kept->paths.join(", ")));
    QVERIFY(kept->bytes >= 100 + 10 && kept->keptUntil(7) > QDateTime::currentDateTimeUtc().addDays(6));

    QTemporaryDir outside;
    const QString canary = outside.filePath("canary");
    QVERIFY(QFile(canary).open(QIODevice::WriteOnly));
    // Pack went whole, in one rename, with an empty folder left in its place.
    QVERIFY(fileContents(m_volume->physical(helperwire::quarantinePath().child(outcome.run).child(u"manifest").toString()))
                .contains(",\"entries\":2}"));
    QVERIFY(!QFileInfo::exists(m_volume->physical(kPack + "/a.bin")));
    const QString folder = m_volume->physical(QFileInfo(path).path());
    const bool folderMade = !path.isEmpty() && !QFileInfo::exists(folder);   // then the taker's
    if (meanwhile == "taken")
        QVERIFY(m_volume->writeFile(path, "somebody else's"));
    if (meanwhile == "link") {
        QString number;
        for (const QString &name : QDir(itemsFolder(outcome.run)).entryList(QDir::Files))
            if (fileContents(itemsFolder(outcome.run) + '/' + name) == "the data")
                number = name;
        QVERIFY(!number.isEmpty() && QFile::remove(itemsFolder(outcome.run) + '/' + number));
        QVERIFY(QFile::link(canary, itemsFolder(outcome.run) + '/' + number));
    }

    const UndoOutcome undone = KeptRuns::undo(*m_helper, outcome.run);
    QVERIFY2(undone.error.isEmpty(), qPrintable(undone.error));
    QCOMPARE(undone.dockTiles, 1);
    QCOMPARE(undone.loginItems, 1);
    QCOMPARE(dockURLs(m_volume->physical(kDock)),
             QStringList({"file:///Applications/Other.app/", "file:///Applications/Keeper.app/"}));
    QMap<QString, QString> after = treeSnapshot(m_volume->root(), QString(), true);
    QMap<QString, QString> expected = before;
    for (QMap<QString, QString> *tree : {&after, &expected})
        tree->removeIf([&](const auto &item) { return isWithinAny(item.key(), changing); });
    if (meanwhile.isEmpty()) {
        QVERIFY(undone.complete());
        QVERIFY2(differences(after, expected).isEmpty(), qPrintable(differences(after, expected).join('\n')));
        QVERIFY(KeptRuns::list(*m_helper, &error)->isEmpty());
    } else {
        QCOMPARE(undone.notRestored.size(), 1);
        QVERIFY2(undone.notRestored.first().startsWith(reported + ": "), qPrintable(undone.notRestored.first()));
        expected.remove(m_volume->physical(path));
        QCOMPARE(after.take(m_volume->physical(path)).isNull(), meanwhile == "link");
        if (folderMade)
            QCOMPARE(after.take(folder).section(' ', 0, 0), expected.take(folder).section(' ', 0, 0));
        QVERIFY2(differences(after, expected).isEmpty(), qPrintable(differences(after, expected).join('\n')));
        QCOMPARE(KeptRuns::list(*m_helper, &error)->value(0).items, 1);   // kept for another try
        QCOMPARE(fileContents(canary), QByteArray());
        QVERIFY(QFileInfo(canary).isFile());
    }
    const Catalogue catalogue = *CatalogueScanner::scan(CatalogueScanner::damagedIconPath());
    QVERIFY(findRecord(catalogue.installerPackages, kKeeper));
}

// Two runs, one of them aged past the setting: housekeeping empties only
// that one, the command line lists and empties the rest.
void QuarantineTest::expiryEmptiesOnlyExpiredRuns()
{
    const UninstallOutcome first = uninstall(kOther);
    const UninstallOutcome second = uninstall(kKeeper);
    QVERIFY(!first.run.isEmpty() && !second.run.isEmpty() && first.run != second.run);
    const QString manifest = m_volume->physical(helperwire::quarantinePath().child(first.run).child(u"manifest").toString());
    QByteArray text = fileContents(manifest);
    const QByteArray created = QDateTime::currentDateTimeUtc().addDays(-8).toString(Qt::ISODate).toUtf8();
    text.replace(text.indexOf("\"created\":\"") + 11, created.size(), created);
    QFile file(manifest);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();

    QCOMPARE(KeptRuns::emptyExpired(*m_helper, QDateTime::currentDateTimeUtc(), 7), QStringList{first.run});
    QVERIFY(!QFileInfo::exists(m_volume->physical("/Library/OtherData/other.bin")));
    const CommandLineRun listed = runCommandLine(m_volume->root(), m_volume->home(), {"quarantine", "list", "--json"});
    QCOMPARE(listed.exitCode, 0);
    const QJsonArray runs = QJsonDocument::fromJson(listed.out).array();
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first()["run"].toString(), second.run);
    QCOMPARE(runCommandLine(m_volume->root(), m_volume->home(), {"quarantine", "empty", "--all"}).exitCode, 3);
    QCOMPARE(runCommandLine(m_volume->root(), m_volume->home(), {"quarantine", "empty", "--all", "--yes"}).exitCode, 0);
    QString error;
    QVERIFY(KeptRuns::list(*m_helper, &error)->isEmpty());
    QCOMPARE(runCommandLine(m_volume->root(), m_volume->home(), {"undo", "--yes"}).exitCode, 1);   // nothing to undo
}

// With 0 days an uninstall removes at once and says it cannot be undone;
// a quarantine that cannot be written removes for good, and says so.
void QuarantineTest::keepingIsASetting()
{
    const QList<PackageRecord> none;
    QVERIFY(UninstallRun::confirmationMessage(none, 0).contains("This operation can not be undone"));
    QVERIFY(UninstallRun::confirmationMessage(none, 7).contains("kept in the quarantine for 7 days: \"Undo Last Uninstall…\""));
    kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(0);
    const UninstallOutcome removed = uninstall(kOther);
    QVERIFY(removed.run.isEmpty() && removed.keptText().isEmpty());
    QVERIFY(!QFileInfo::exists(m_volume->physical("/Library/OtherData/other.bin")));
    QVERIFY(!QFileInfo::exists(m_volume->physical(helperwire::quarantinePath().toString())));

    kestrum::DefaultsKey(Settings::kKeepRemovedDays).setDefaultInt(3);
    QVERIFY(m_volume->writeFile(helperwire::quarantinePath().toString(), "not a folder"));
    const UninstallOutcome forGood = uninstall(kKeeper);
    QVERIFY(!forGood.run.isEmpty());
    QVERIFY2(forGood.removedForGood.contains(kData), qPrintable(forGood.removedForGood.join(", ")));
    QVERIFY(!QFileInfo::exists(m_volume->physical(kData)));
    const QString log = QString::fromUtf8(fileContents(m_volume->physical(forGood.logFile)));
    QVERIFY(log.contains("Removed for good: \n") && log.section("Removed for good: \n", 1).contains(kData));
}

void QuarantineTest::quarantineRequestsAreChecked_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("run");
    QTest::addColumn<QString>("prepare");   // what the test puts in the quarantine first
    QTest::addColumn<QString>("reason");    // empty: no reply, the connection ends
    QTest::newRow("restore, no such run") << "restore" << "20261207-101010-abcdef" << "" << "no such run in the quarantine";
    QTest::newRow("empty, no such run") << "emptyQuarantine" << "20261207-101010-abcdef" << "" << "no such run in the quarantine";
    QTest::newRow("restore, a path") << "restore" << "../../../../etc" << "" << "";
    QTest::newRow("empty, an absolute path") << "emptyQuarantine" << "/private/var/db/receipts" << "" << "";
    QTest::newRow("empty, a folder without manifest") << "emptyQuarantine" << "20261207-101010-abcdef" << "folder"
                                                       << "no such run in the quarantine";
    QTest::newRow("restore, a run that is a link") << "restore" << "20261207-101010-abcdef" << "link"
                                                   << "no such run in the quarantine";
}

// The tool restores and empties only runs it recorded, named by their form.
void QuarantineTest::quarantineRequestsAreChecked()
{
    QFETCH(QString, type);
    QFETCH(QString, run);
    QFETCH(QString, prepare);
    QFETCH(QString, reason);
    const UninstallOutcome real = uninstall(kOther);
    const QString store = m_volume->physical(helperwire::quarantinePath().toString());
    if (prepare == "folder")
        QVERIFY(QDir().mkpath(store + '/' + run + "/items"));
    if (prepare == "link")
        QVERIFY(QFile::link(store + '/' + real.run, store + '/' + run));
    const QMap<QString, QString> before = treeSnapshot(m_volume->root());
    // Sent as a client of the socket would send it, unchecked.
    helperwire::FrameChannel channel(platform::Volume::current()->connectToSocket(helperwire::socketPath()));
    helperwire::Message answer;
    QCOMPARE(channel.send({{"type", type}, {"request", run}}, 5000), helperwire::FrameChannel::Status::Ok);
    const bool answered = channel.receive(&answer, 60000) == helperwire::FrameChannel::Status::Ok;
    const std::optional<helperwire::Reply> reply =
        answered ? helperwire::decodeReply(answer.value("reply")) : std::nullopt;
    QCOMPARE(reply.has_value(), !reason.isEmpty());
    if (reply) {
        QCOMPARE(reply->failures().size(), 1);
        QCOMPARE(reply->failures().first().reason, reason);
    }
    QCOMPARE(treeSnapshot(m_volume->root()), before);
}

// "Undo Last Uninstall…" in the Logs menu asks, naming what comes back,
// puts it back and lists the package again.
void QuarantineTest::windowUndoesTheLastRun()
{
    const UninstallOutcome outcome = uninstall(kKeeper);
    AppDelegate delegate;
    delegate.window()->show();
    QSignalSpy handedOver(&delegate, &AppDelegate::catalogueHandedOver);
    delegate.applicationDidFinishLaunching();
    QVERIFY(handedOver.wait(20000));
    QVERIFY(!findRecord(delegate.catalogue().installerPackages, kKeeper));
    const QList<QAction *> actions = delegate.window()->ui().logfileMenu->actions();
    QCOMPARE(actions.last()->text(), "Undo Last Uninstall…");
    QSignalSpy undone(&delegate, &AppDelegate::undoFinished);
    (*m_script)->enqueueButton(1000);   // "Undo"
    (*m_script)->enqueueButton(1000);   // the report's "OK"
    actions.last()->trigger();
    QVERIFY(undone.wait(30000));
    QCOMPARE((*m_script)->questions().size(), 2);
    const kestrum::AlertQuestion question = (*m_script)->questions().first();
    QCOMPARE(question.buttons, QStringList({"Undo", "Cancel"}));
    QVERIFY(question.message.contains(kKeeper) && question.message.contains(kData));
    QVERIFY2((*m_script)->questions().last().message.startsWith("Restored " + QString::number(outcome.keptItems)),
             qPrintable((*m_script)->questions().last().message));
    QVERIFY(QFileInfo::exists(m_volume->physical(kData)));
    QVERIFY(handedOver.wait(20000));
    QVERIFY(findRecord(delegate.catalogue().installerPackages, kKeeper));
}

QTEST_MAIN(QuarantineTest)
#include "tst_quarantine.moc"
