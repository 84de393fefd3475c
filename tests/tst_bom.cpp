#include "platform/bom/BomReader.h"
#include "platform/bom/BomWriter.h"
#include "platform/bom/PosixChecksum.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>

using platform::BomEntry;
using platform::BomReader;
using platform::BomWriter;

namespace {

QString sample(const QString &name)
{
    return QStringLiteral(DORVANE_SAMPLES_DIR "/") + name;
}

BomEntry makeEntry(const QString &path, BomEntry::Type type, quint16 mode = 0)
{
    BomEntry e;
    e.path = path;
    e.type = type;
    e.mode = mode;
    return e;
}

// The order the bill must list: depth first, children by the bytes of their
// names. Sorting by the list of UTF-8 components gives exactly that.
QList<BomEntry> inBillOrder(QList<BomEntry> entries)
{
    QList<std::pair<QList<QByteArray>, BomEntry>> keyed;
    for (BomEntry &e : entries)
        keyed.append({e.path.toUtf8().split('/'), std::move(e)});
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<BomEntry> result;
    for (auto &k : keyed)
        result.append(std::move(k.second));
    return result;
}

// What the reader gives back for an entry of makeTree's: the writer adds a
// file's missing type bits, and a link's size and checksum.
BomEntry asRead(BomEntry e)
{
    if (e.type == BomEntry::Type::File && (e.mode & 0170000) == 0)
        e.mode |= 0100000;
    if (e.type == BomEntry::Type::Link) {
        e.size = quint64(e.linkTarget.toUtf8().size());
        e.checksum = platform::posixChecksum(e.linkTarget.toUtf8());
    }
    return e;
}

// A deterministic tree of `count` entries: folders, files, links and devices
// with names chosen to make bytewise order matter ("-" sorts before "/",
// capitals before small letters, UTF-8 after ASCII, a trailing carriage
// return), nested up to `maxDepth` folders deep.
QList<BomEntry> makeTree(int count, int maxDepth, quint32 seed)
{
    static const QStringList stems = {QStringLiteral("a"), QStringLiteral("a-b"), QStringLiteral("B"),
                                      QStringLiteral("_x"), QStringLiteral("._a"), QStringLiteral("Caf\u00e9"),
                                      QStringLiteral("z"), QStringLiteral("Icon\r"), QStringLiteral("\u65e5\u672c")};
    QRandomGenerator rng(seed);
    QList<BomEntry> entries;
    QList<std::pair<QString, int>> folders{{QString(), 0}};
    for (int i = 0; i < count; ++i) {
        // Mostly below a recent folder, which builds depth.
        const qsizetype pick = rng.bounded(4) == 0 ? rng.bounded(folders.size())
                                                   : std::max<qsizetype>(0, folders.size() - 1 - rng.bounded(3));
        const auto [parent, depth] = folders[pick];
        // The number keeps names unique; "Icon\r" keeps its carriage return
        // at the end.
        const QString stem = stems[rng.bounded(stems.size())];
        const QString name = (rng.bounded(2) || stem.endsWith(QLatin1Char('\r')))
            ? QString::number(i, 36) + QLatin1Char('.') + stem
            : stem + QLatin1Char(' ') + QString::number(i, 36);
        BomEntry e;
        e.path = parent.isEmpty() ? name : parent + QLatin1Char('/') + name;
        const int kind = rng.bounded(20);
        e.uid = rng.bounded(600);
        e.gid = rng.bounded(100);
        e.mtime = rng.generate();
        if (kind < 4 && depth < maxDepth) {
            e.type = BomEntry::Type::Directory;
            e.mode = 040755;
            folders.append({e.path, depth + 1});
        } else if (kind == 4) {
            e.type = BomEntry::Type::Link;
            e.mode = 0120755;
            e.linkTarget = QStringLiteral("../target/") + name;
        } else if (kind == 5) {
            e.type = BomEntry::Type::Device;
            e.mode = 020644;
            e.device = rng.generate();
        } else {
            e.type = BomEntry::Type::File;
            e.mode = rng.bounded(2) ? 0100644 : 0644;   // the writer adds missing type bits
            e.size = rng.generate();
            e.checksum = rng.generate();
        }
        entries.append(e);
    }
    return entries;
}

// The listing of tests/tools/lsbom.py; none, with the reason, without python3.
std::optional<QStringList> pythonListing(const QString &file, QString *why)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        *why = QStringLiteral("python3 is not installed, so there is no independent reader to compare with");
        return std::nullopt;
    }
    QProcess process;
    process.start(python, {QFINDTESTDATA("tools/lsbom.py"), file});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *why = QStringLiteral("lsbom.py failed: ") + QString::fromUtf8(process.readAllStandardError());
        return QStringList{QStringLiteral("<failed>")};
    }
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeLast();   // what follows the final newline
    return lines;
}

// How many levels the written bill's Paths tree has, read without the
// reader under test: down the first pair of every index node.
int treeLevels(const QByteArray &d)
{
    auto u32 = [&d](quint32 at) { return qFromBigEndian<quint32>(d.constData() + at); };
    auto blockAt = [&](quint32 block) { return u32(u32(16) + 4 + 8 * block); };
    quint32 at = u32(24) + 4;
    while (d.mid(at + 5, quint8(d[at + 4])) != "Paths")
        at += 5 + quint8(d[at + 4]);
    quint32 node = u32(blockAt(u32(at)) + 8);
    int levels = 1;
    for (; qFromBigEndian<quint16>(d.constData() + blockAt(node)) == 0; ++levels)
        node = u32(blockAt(node) + 12);
    return levels;
}

// The fields a sample row names ("type=l size=9 ..."), read from an entry.
QString describe(const BomEntry &e, const QString &fields)
{
    static const char types[] = "fdlbu";
    const QHash<QString, QString> all{{"type", QString(QLatin1Char(types[int(e.type)]))},
                                      {"mode", QString::number(e.mode, 8)},
                                      {"uid", QString::number(e.uid)},
                                      {"gid", QString::number(e.gid)},
                                      {"size", QString::number(e.size)},
                                      {"sum", QString::number(e.checksum)},
                                      {"target", e.linkTarget}};
    QStringList out;
    for (const QString &field : fields.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = field.section(QLatin1Char('='), 0, 0);
        out.append(key + QLatin1Char('=') + all.value(key, QStringLiteral("?")));
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestBom : public QObject
{
    Q_OBJECT

private slots:
    // The samples' listings and a written bill's match the independent reader's.
    // Each sample also has the facts of one entry, as other tools list them:
    // sizes and checksums of files, link targets (whose checksum is that of the
    // target text), a universal binary whose architecture list follows its checksum.
    void matchesIndependentReader_data()
    {
        QTest::addColumn<QString>("file");     // a sample, or empty for a written bill
        QTest::addColumn<int>("entries");      // with ".", or entries to generate
        QTest::addColumn<int>("levels");       // of the written bill's Paths tree
        QTest::addColumn<QString>("path");     // of a sample entry with the facts below
        QTest::addColumn<QString>("fields");
        // An old bundle package: records without trailer, the file's only 27 bytes.
        QTest::newRow("pyobjc") << "pyobjc-InstallerPluginsTestPackage-Archive.bom" << 2 << 0 << "InstalledFile.txt"
                                << "type=f mode=100644 uid=501 gid=501 size=65 sum=3995837755";
        QTest::newRow("python-applications")
            << "python-applications.bom" << 54 << 0 << "Python 3.9/Python Launcher.app/Contents/MacOS/Python Launcher"
            << "type=f mode=100755 size=210912 sum=2323004274";
        QTest::newRow("finnp") << "finnp-lsbom-Bom.bom" << 10 << 0 << "link.txt"
                               << "type=l target=faust.txt size=9 sum=3434127505";
        QTest::newRow("osquery") << "osquery-test_bom.bom" << 247 << 0 << "usr/local/bin/osqueryi"
                                 << "type=l target=osqueryd size=8 sum=2588742340";
        // mkbom.js: an exact-size block table, an 84-byte leaf, flags 0x0003, no trailer.
        QTest::newRow("mkbom.js") << "NONAPPLE-mkbomjs-test-Bom.bom" << 9 << 0 << "faust.txt"
                                  << "type=f mode=100644 uid=0 gid=80 size=258 sum=2464829656";
        QTest::newRow("written, 7 leaves") << QString() << 3500 << 2 << QString() << QString();
        // More than 510 full leaves need an index below the index.
        QTest::newRow("written, 3 levels") << QString() << 510 * 520 << 3 << QString() << QString();
    }

    void matchesIndependentReader()
    {
        QFETCH(QString, file);
        QFETCH(int, entries);
        QFETCH(int, levels);
        QFETCH(QString, path);
        QFETCH(QString, fields);
        QTemporaryDir dir;
        QString bill = sample(file);
        if (file.isEmpty()) {
            BomWriter writer;
            for (const BomEntry &e : makeTree(entries, 40, 7))
                QVERIFY(writer.addEntry(e));
            const QByteArray data = writer.toByteArray();
            QCOMPARE(treeLevels(data), levels);
            bill = dir.filePath(QStringLiteral("generated.bom"));
            QFile out(bill);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
            entries = 0; // the generator's own check: the listing matches the other reader's
        }
        const BomReader reader = BomReader::open(bill);
        QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
        QCOMPARE(reader.rootEntry().value_or(BomEntry()).type, BomEntry::Type::Directory);
        const QStringList paths = reader.paths();
        if (entries > 0)
            QCOMPARE(paths.size() + 1, entries);
        // What a scan reserves room by.
        quint64 bytes = 0;
        for (const QString &listed : paths)
            bytes += quint64(listed.toUtf8().size());
        QCOMPARE(reader.pathBytes(), bytes);
        QFile in(bill);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(BomReader::fromData(in.readAll()).paths(), paths);
        if (!path.isEmpty()) {
            QVERIFY(paths.contains(path));
            QCOMPARE(describe(reader.entries().at(paths.indexOf(path)), fields), fields);
        }

        QString why;
        const std::optional<QStringList> expected = pythonListing(bill, &why);
        if (!expected)
            QSKIP(qPrintable(why));
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(paths, *expected);
    }

    void posixChecksum_data()
    {
        // Expected values from coreutils `cksum`.
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("empty") << QByteArray() << 4294967295u;
        QTest::newRow("123456789") << QByteArray("123456789") << 930766865u;
        // A length that needs three bytes when appended.
        QTest::newRow("100000 a") << QByteArray(100000, 'a') << 614267494u;
    }

    void posixChecksum()
    {
        QFETCH(QByteArray, data);
        QFETCH(quint32, expected);
        QCOMPARE(platform::posixChecksum(data), expected);
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("count");      // random entries besides "."
        QTest::addColumn<int>("maxDepth");
        QTest::addColumn<int>("chain");      // folders nested one in the other, a file in each
        QTest::newRow("one leaf") << 120 << 6 << 0;
        QTest::newRow("exactly one full leaf") << 509 << 6 << 0;
        QTest::newRow("one more than a leaf") << 510 << 6 << 0;
        QTest::newRow("many leaves") << 510 * 9 + 17 << 12 << 0;
        QTest::newRow("deep") << 2000 << 40 << 300;
    }

    void roundTrip()
    {
        QFETCH(int, count);
        QFETCH(int, maxDepth);
        QFETCH(int, chain);
        QList<BomEntry> input = makeTree(count, maxDepth, quint32(count));
        QString folder;
        for (int level = 0; level < chain; ++level) {
            folder += level == 0 ? QStringLiteral("d") : QStringLiteral("/d");
            input.append(makeEntry(folder, BomEntry::Type::Directory, 040700));
            input.append(makeEntry(folder + QStringLiteral("/file"), BomEntry::Type::File, 0100600));
            input.last().size = quint64(level);
        }
        BomWriter writer;
        BomEntry root = makeEntry(QString(), BomEntry::Type::Directory, 040775);
        root.uid = 501;
        root.gid = 80;
        root.mtime = 1600000000;
        QVERIFY(writer.addEntry(root));
        QString error;
        for (const BomEntry &e : input)
            QVERIFY2(writer.addEntry(e, &error), qPrintable(error));
        QCOMPARE(writer.count(), qsizetype(input.size()));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("round.bom"));
        QVERIFY2(writer.write(path, &error), qPrintable(error));
        const BomReader reader = BomReader::open(path);
        QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));

        QList<BomEntry> expected;
        for (const BomEntry &e : input)
            expected.append(asRead(e));
        expected = inBillOrder(expected);
        const QList<BomEntry> actual = reader.entries();
        QCOMPARE(actual.size(), expected.size());
        for (qsizetype i = 0; i < actual.size(); ++i)
            QVERIFY2(actual[i] == expected[i], qPrintable(expected[i].path));
        QCOMPARE(*reader.rootEntry(), asRead(root));
    }

    void implicitParents()
    {
        BomWriter writer;
        BomEntry file = makeEntry(QStringLiteral("Library/Receipts/x/file"), BomEntry::Type::File);
        file.checksum = 42;
        QVERIFY(writer.addEntry(file));
        // Added after its implicit creation: the caller's metadata wins.
        BomEntry folder = makeEntry(QStringLiteral("./Library/Receipts"), BomEntry::Type::Directory, 040700);
        folder.uid = 7;
        QVERIFY(writer.addEntry(folder));
        const BomReader reader = BomReader::fromData(writer.toByteArray());
        QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
        const QList<BomEntry> entries = reader.entries();
        QCOMPARE(reader.paths(),
                 QStringList({"Library", "Library/Receipts", "Library/Receipts/x", "Library/Receipts/x/file"}));
        QCOMPARE(entries[0].type, BomEntry::Type::Directory);
        QCOMPARE(entries[0].mode, quint16(040755));
        QCOMPARE(entries[1].mode, quint16(040700));
        QCOMPARE(entries[1].uid, 7u);
        QCOMPARE(entries[3].checksum, 42u);
        QVERIFY(reader.rootEntry().has_value());
    }

    // A refused entry leaves no trace.
    void writerRejects_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("type");
        const int file = int(BomEntry::Type::File);
        QTest::newRow("absolute") << "/etc/passwd" << file;
        QTest::newRow("parent step") << "a/../../etc" << file;
        QTest::newRow("dot step") << "a/./b" << file;
        QTest::newRow("too long") << QString(1024, QLatin1Char('x')) << file;
        QTest::newRow("unknown type") << "a/b" << int(BomEntry::Type::Unknown);
        QTest::newRow("below a file") << "file/child" << file;
        QTest::newRow("folder with children made a file") << "dir" << file;
        QTest::newRow("root as a file") << "." << file;
    }

    void writerRejects()
    {
        QFETCH(QString, path);
        QFETCH(int, type);
        BomWriter writer;
        QVERIFY(writer.addEntry(makeEntry(QStringLiteral("file"), BomEntry::Type::File)));
        QVERIFY(writer.addEntry(makeEntry(QStringLiteral("dir/inner"), BomEntry::Type::File)));
        const QByteArray before = writer.toByteArray();
        QString error;
        QVERIFY(!writer.addEntry(makeEntry(path, BomEntry::Type(type)), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(writer.toByteArray(), before);
    }

    void emptyBill()
    {
        // No entry at all, not even "." (as in a real empty bill).
        const BomReader empty = BomReader::fromData(BomWriter().toByteArray());
        QVERIFY2(empty.isValid(), qPrintable(empty.errorString()));
        QCOMPARE(empty.count(), 0);
        QVERIFY(!empty.rootEntry().has_value());
    }
};

QTEST_GUILESS_MAIN(TestBom)
#include "tst_bom.moc"
