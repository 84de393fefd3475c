#include "support/FixturePackages.h"
#include "support/VolumeFixture.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run { int exitCode; QByteArray out; QByteArray err; };

Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {-1, {}, "timed out"};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QProcessEnvironment cleanEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DORVANE_ROOT");
    env.remove("DORVANE_HOME");
    env.insert("HOME", home);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

} // namespace

// Both executables started as a user would start them, on a volume in a
// temporary folder.
class StartUpTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesOnlyBelowTheRoot_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("command line") << QStringLiteral(DORVANE_CLI) << QStringList{"--version"};
        // The application quits by itself once it has pictured its window.
        QTest::newRow("application") << QStringLiteral(DORVANE_APP) << QStringList{"--screenshot"};
    }

    void writesOnlyBelowTheRoot()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, extra);
        // A fixture, so that the helper daemon the application starts ends with it.
        const VolumeFixture volume;
        const QString root = volume.root();
        QTemporaryDir realHome;
        const QString logicalHome = "/Users/mac";
        QDir().mkpath(root + logicalHome);
        volumegen::VolumeBuilder builder(root, logicalHome);
        using volumegen::PathItem;
        builder.addReceipt(
            package("com.example.only", {PathItem::folder("Library"), PathItem::file("Library/only.txt", 10)}));
        QVERIFY(builder.write());
        if (extra == QStringList{"--screenshot"})
            extra.append(realHome.path() + "/../" + QFileInfo(realHome.path()).fileName() + "-shot.png");

        const Run result = run(program, QStringList{"--root", root, "--home", logicalHome} + extra,
                               cleanEnvironment(realHome.path()));
        QVERIFY2(result.exitCode == 0, result.err.constData());

        const QString prefs = root + logicalHome + "/Library/Preferences/com.dorvane.Dorvane.plist";
        QVERIFY(QFileInfo(root + logicalHome + "/Library/Application Support/Dorvane").isDir());
        QVERIFY(QFileInfo(prefs).isFile());
        QVERIFY2(filesBelow(realHome.path()).isEmpty(), qPrintable(filesBelow(realHome.path()).join(", ")));
        if (extra.size() == 2) {
            QVERIFY(QImage(extra.last()).width() > 0);
            QFile::remove(extra.last());
        }

        QString error;
        const QByteArray json = readPlistIndependently(prefs, &error);
        if (json.isEmpty())
            QSKIP(qPrintable("no independent property-list reader: " + error));
        const QJsonObject stored = QJsonDocument::fromJson(json).object();
        QCOMPARE(stored.value("NSInitialToolTipDelay").toInt(), 1);
        QVERIFY(stored.contains("launchDate"));
        // Registered defaults stay in memory.
        QVERIFY(!stored.contains("IgnoredInstallers"));
    }

    // The environment names the volume unless --root does. The first run also
    // shows the version line.
    void environmentChoosesTheVolumeUnlessGiven()
    {
        QTemporaryDir byOption, byEnvironment, realHome;
        QProcessEnvironment env = cleanEnvironment(realHome.path());
        env.insert("DORVANE_ROOT", byEnvironment.path());
        env.insert("DORVANE_HOME", "/Users/env");
        const Run fromEnvironment = run(DORVANE_CLI, {"--version"}, env);
        QCOMPARE(fromEnvironment.exitCode, 0);
        QVERIFY2(QRegularExpression("^Dorvane \\d+\\.\\d+\\.\\d+ \\(\\d+\\)\n$").match(fromEnvironment.out).hasMatch(),
                 fromEnvironment.out.constData());
        QVERIFY(QFileInfo(byEnvironment.path() + "/Users/env/Library/Preferences/com.dorvane.Dorvane.plist").isFile());
        QCOMPARE(run(DORVANE_CLI, {"--root", byOption.path(), "--version"}, env).exitCode, 0);
        QVERIFY(QFileInfo(byOption.path() + "/Users/env/Library/Preferences/com.dorvane.Dorvane.plist").isFile());
        QVERIFY(filesBelow(realHome.path()).isEmpty());
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("missing root, command line") << QStringLiteral(DORVANE_CLI)
                                                    << QStringList{"--root", "/nonexistent/volume", "--version"} << 2
                                                    << QByteArray("/nonexistent/volume");
        QTest::newRow("missing root, application") << QStringLiteral(DORVANE_APP)
                                                   << QStringList{"--root", "/nonexistent/volume"} << 1 << QByteArray();
        QTest::newRow("unknown command") << QStringLiteral(DORVANE_CLI) << QStringList{"frobnicate"} << 2
                                         << QByteArray("unknown command 'frobnicate'");
    }

    void refusals()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        QTemporaryDir root, realHome;
        if (!arguments.contains("--root"))
            arguments = QStringList{"--root", root.path()} + arguments;
        const Run result = run(program, arguments, cleanEnvironment(realHome.path()));
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.err.contains(message), result.err.constData());
        QVERIFY(filesBelow(realHome.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(StartUpTest)
#include "tst_startup.moc"
