#include "dorvane/uninstall/AppIntegration.h"
#include "dorvane/uninstall/ProcessLister.h"
#include "kestrum/Task.h"
#include "platform/PropertyList.h"
#include "platform/RunningProcesses.h"
#include "platform/Volume.h"
#include "support/LogRing.h"
#include "support/VolumeFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace dorvane;
using platform::LogicalPath;

namespace {

const QString kFooApp = "/Applications/Foo.app", kFoo = kFooApp + "/Contents/MacOS/Foo";
const QString kBar = "/Applications/Bar.app/Contents/MacOS/Bar", kDock = "~/Library/Preferences/com.apple.dock.plist";

// Copies of sleep; one in a bundle has an Info.plist with the identifier.
const struct Program { const char *name, *path, *identifier; bool outside = false; } kPrograms[] = {
    {"foo", "/Applications/Foo.app/Contents/MacOS/Foo", "com.example.foo"},
    {"foo again", "/Applications/Foo.app/Contents/MacOS/Foo", "com.example.foo"},
    {"foo outside the volume", "/Applications/Foo.app/Contents/MacOS/Foo", "com.example.foo", true},
    {"foo not in MacOS", "/Applications/Foo.app/Contents/Helpers/Foo", "com.example.foo"},
    {"bar", "/Applications/Bar.app/Contents/MacOS/Bar", "com.example.bar"},
    {"dock", "/System/Library/CoreServices/Dock.app/Contents/MacOS/Dock", "com.apple.dock"},
    {"dock look-alike", "/System/Library/CoreServices/Dock.app Helper.app/Contents/MacOS/Dock", "com.apple.dock"},
    {"gone", "/usr/bin/gone", ""},   // its file is removed while it runs
    {"anchor", "/usr/bin/anchor", ""}};

// Autostart entries by file name, and the Exec value of each.
const QMap<QString, QString> kEntries = {
    {"foo.desktop", kFoo + " --hidden"}, {"foo quoted.desktop", "\"" + kFoo + "\" %u"},
    {"foo by link.desktop", "/usr/local/bin/foo"}, {"bar.desktop", kBar},
    {"spaced.desktop", "\"/Applications/Foo Bar.app/Contents/MacOS/Foo\""}, {"tool.desktop", "/usr/bin/tool\\s-v"},
    {"gone.desktop", "/Applications/Gone.app/Contents/MacOS/Gone"}, {"relative.desktop", "foo"}};

// A Dock domain with a value of every type besides its tiles ("" is a tile without a URL).
QByteArray dockPlist(const QStringList &tiles, bool withApps)
{
    QString apps;
    for (const QString &url : tiles)
        apps += url.isEmpty() ? "<dict/>" : "<dict><key>tile-data</key><dict><key>file-data</key><dict><key>_CFURLString"
                                            "</key><string>" + url + "</string></dict></dict></dict>";
    return (R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>tilesize</key><real>48</real>
<key>autohide</key><true/><key>magnify</key><false/><key>count</key><integer>-7</integer><key>large</key>
<integer>9007199254740993</integer><key>shown</key><date>2024-05-01T10:20:30Z</date><key>blob</key><data>AAEC/w==</data>
<key>name</key><string>Grüße</string><key>nested</key><array><dict><key>x</key><array><real>0.5</real></array></dict></array>)"
            + (withApps ? "<key>persistent-apps</key><array>" + apps + "</array>" : QString()) + "</dict></plist>").toUtf8();
}

} // namespace

class AppIntegrationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_volume = std::make_unique<VolumeFixture>(); }
    void cleanup() { m_processes.clear(), m_volume.reset(); }
    void processes_data();
    void processes();
    void loginItems_data();
    void loginItems();
    void dock_data();
    void dock();

private:
    qint64 pid(const QString &name) const { return m_processes.at(name)->processId(); }

    std::unique_ptr<VolumeFixture> m_volume;
    QTemporaryDir m_outside;
    // Every process a test starts ends with it.
    struct Kill { void operator()(QProcess *p) const { p->kill(), p->waitForFinished(), delete p; } };
    std::map<QString, std::unique_ptr<QProcess, Kill>> m_processes;
};

void AppIntegrationTest::processes_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("ended");
    QTest::newRow("every instance of the identifier") << "quitApp com.example.foo" << QStringList{"foo", "foo again"};
    QTest::newRow("identifier compared exactly") << "quitApp com.example.Foo" << QStringList{};
    QTest::newRow("the Dock") << "quitDock" << QStringList{"dock"};
    QTest::newRow("a pid running another program") << "forceTerminate " + kBar << QStringList{};
}

void AppIntegrationTest::processes()
{
    QFETCH(QString, action);
    QFETCH(QStringList, ended);
    for (const Program &program : kPrograms) {
        const QString file = program.outside ? m_outside.path() + program.path : m_volume->physical(program.path);
        QDir().mkpath(QFileInfo(file).path());
        QFile::copy("/bin/sleep", file);
        if (*program.identifier)
            QVERIFY(platform::PropertyList::writeFile(file.section('/', 0, -3) + "/Info.plist",
                                                      QVariantMap{{"CFBundleIdentifier", program.identifier}}));
        m_processes[program.name].reset(new QProcess);
        m_processes[program.name]->start(file, {"600"});
        QVERIFY(m_processes[program.name]->waitForStarted());
    }
    QVERIFY(QFile::remove(m_volume->physical("/usr/bin/gone")));
    const QString argument = action.section(' ', 1);
    if (action.startsWith("quitApp"))
        AppIntegration::quitApp(argument);
    else if (action == "quitDock")
        AppIntegration::quitDock();
    else
        QCOMPARE(platform::forceTerminate(pid("foo"), platform::volumePath(argument).value()), !ended.isEmpty());
    // Whatever the call signalled, it signalled before this one.
    QVERIFY(platform::forceTerminate(pid("anchor"), platform::volumePath(u"/usr/bin/anchor").value()));
    QVERIFY(m_processes["anchor"]->waitForFinished());
    ended.append("anchor");
    QMap<qint64, QString> listed; // by pid, as the process lister shows those still running on the volume
    for (const Program &program : kPrograms) {
        QProcess &process = *m_processes[program.name];
        process.waitForFinished(ended.contains(program.name) ? 30000 : 0); // 0: notices an end already there
        QVERIFY2((process.state() == QProcess::Running) != ended.contains(program.name), program.name);
        if (!program.outside && process.state() == QProcess::Running)
            listed.insert(pid(program.name), QString::number(pid(program.name)).rightJustified(5) + ' ' + program.path);
    }
    QCOMPARE(QFileInfo(ProcessLister::path()).canonicalFilePath(), QFileInfo(DORVANE_PS).canonicalFilePath());
    QCOMPARE(kestrum::runAsTask(ProcessLister::launchArguments()).value_or("").split('\n', Qt::SkipEmptyParts),
             QStringList{"  PID COMM"} + listed.values());
    qint64 status = 0;
    QVERIFY(kestrum::runAsTask({ProcessLister::path(), "ax", "-opid,comm"}, &status) && status == 2);
}

void AppIntegrationTest::loginItems_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("app");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QString>("warning");
    const QString relative = "Warning: removeLoginItem: LSSharedFileListItemResolve error -50";
    const QStringList foo{"foo by link.desktop", "foo quoted.desktop", "foo.desktop"};
    QTest::newRow("every entry of the app") << "entries" << kFooApp + "/" << foo << relative;
    QTest::newRow("quoted path with a space") << "entries" << "/Applications/Foo Bar.app" << QStringList{"spaced.desktop"} << relative;
    QTest::newRow("a program outside a bundle") << "entries" << "/usr/bin/tool" << QStringList{"tool.desktop"} << relative;
    QTest::newRow("entry of a gone app kept silently") << "entries" << "/Applications/Gone.app" << QStringList{} << relative;
    QTest::newRow("no autostart folder") << "none" << kFooApp << QStringList{} << QString();
    QTest::newRow("autostart folder unreadable") << "file" << kFooApp << QStringList{}
                                                 << "Warning: _RemoveLoginItem : LSSharedFileListCopySnapshot delivered NULL list!";
    QTest::newRow("no home folder") << "no home" << kFooApp << QStringList{}
                                    << "Warning: _RemoveLoginItem : LSSharedFileListCreate delivered NULL list!";
}

void AppIntegrationTest::loginItems()
{
    QFETCH(QString, layout);
    QFETCH(QString, app);
    QFETCH(QStringList, removed);
    QFETCH(QString, warning);
    for (const QString &program : {kFoo, kBar, QString("/Applications/Foo Bar.app/Contents/MacOS/Foo"), QString("/usr/bin/tool")})
        QVERIFY(m_volume->writeFile(program));
    QVERIFY(m_volume->makeLink("/usr/local/bin/foo", kFoo));
    for (auto it = kEntries.cbegin(); layout == "entries" && it != kEntries.cend(); ++it)
        QVERIFY(m_volume->writeFile("~/.config/autostart/" + it.key(), "[Desktop Entry]\nExec=" + it.value().toUtf8()));
    if (layout == "file")
        QVERIFY(m_volume->writeFile("~/.config/autostart"));
    if (layout == "no home")
        QVERIFY(QDir(m_volume->physical("~")).removeRecursively());
    AppIntegration::removeLoginItem_LS(QUrl::fromLocalFile(app));
    QStringList kept = layout == "entries" ? kEntries.keys() : QStringList();
    for (const QString &name : removed)
        kept.removeOne(name);
    QCOMPARE(QDir(m_volume->physical("~/.config/autostart")).entryList(QDir::Files, QDir::Name), kept);
    QCOMPARE(loggedMessages(kestrum::LogWarning).size(), int(!warning.isEmpty()));
    QVERIFY(warning.isEmpty() || wasLogged(kestrum::LogWarning, warning));
}

void AppIntegrationTest::dock_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("tiles");
    QTest::addColumn<QString>("app");
    QTest::addColumn<QStringList>("kept");   // empty when nothing changes
    const QString foo = "file:///Applications/Foo.app/", bar = "file:///Applications/Bar.app/";
    QTest::newRow("two tiles of the app") << "tiles" << QStringList{foo, "", bar, foo} << kFooApp << QStringList{"", bar};
    QTest::newRow("space percent-encoded") << "tiles" << QStringList{"file:///Applications/Foo%20Bar.app/", foo}
                                           << "/Applications/Foo Bar.app" << QStringList{foo};
    QTest::newRow("app not in the Dock, case counts") << "tiles" << QStringList{bar, "", "file:///Applications/foo.app/"}
                                                      << kFooApp << QStringList{};
    QTest::newRow("no persistent-apps") << "no apps" << QStringList{} << kFooApp << QStringList{};
    QTest::newRow("no domain") << "none" << QStringList{} << kFooApp << QStringList{};
}

void AppIntegrationTest::dock()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, tiles);
    QFETCH(QString, app);
    QFETCH(QStringList, kept);
    if (layout != "none")
        QVERIFY(m_volume->writeFile(kDock, dockPlist(tiles, layout == "tiles")));
    const auto stamp = [] {   // a rewrite makes a new file
        const auto status = platform::Volume::current()->status(platform::volumePath(kDock).value(), platform::Follow::NotFinal);
        return status ? QString("%1 %2").arg(status->inode).arg(status->modifiedMSecs) : QString();
    };
    const QString before = stamp();
    QCOMPARE(AppIntegration::removeFromDock(QUrl::fromLocalFile(app)), !kept.isEmpty());
    QCOMPARE(stamp() == before, kept.isEmpty());
    // Every value keeps its type, as a reader that shares no code with ours sees it.
    QVERIFY(m_volume->writeFile("/expected.plist", dockPlist(kept.isEmpty() ? tiles : kept, layout != "no apps")));
    QString error;
    const QByteArray written = readPlistIndependently(m_volume->physical(kDock), &error);
    QVERIFY2(!written.isEmpty() || layout == "none", qPrintable(error));
    QCOMPARE(written, layout == "none" ? QByteArray() : readPlistIndependently(m_volume->physical("/expected.plist"), &error));
}

QTEST_GUILESS_MAIN(AppIntegrationTest)
#include "tst_appintegration.moc"
