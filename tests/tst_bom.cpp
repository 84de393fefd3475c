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

const BomEntry *findEntry(const QList<BomEntry> &entries, const QString &path)
{
    for (const BomEntry &e : entries) {
        if (e.path == path)
            return &e;
    }
    return nullptr;
}

// Direct reads of a written bill, to check its layout without going through
// the reader under test.
struct Raw
{
    QByteArray d;

    quint32 u32(quint32 at) const { return qFromBigEndian<quint32>(d.constData() + at); }
    quint16 u16(quint32 at) const { return qFromBigEndian<quint16>(d.constData() + at); }
    std::pair<quint32, quint32> block(quint32 i) const
    {
        const quint32 table = u32(16);
        return {u32(table + 4 + 8 * i), u32(table + 8 + 8 * i)};
    }
    QList<std::pair<QByteArray, quint32>> variables() const
    {
        QList<std::pair<QByteArray, quint32>> result;
        quint32 at = u32(24);
        const quint32 count = u32(at);
        at += 4;
        for (quint32 i = 0; i < count; ++i) {
            const quint32 blockIndex = u32(at);
            const int length = quint8(d[at + 4]);
            result.append({d.mid(at + 5, length), blockIndex});
            at += 5 + length;
        }
        return result;
    }
    quint32 variable(const QByteArray &name) const
    {
        for (const auto &[n, b] : variables()) {
            if (n == name)
                return b;
        }
        return 0;
    }
};

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

// What the reader gives back for an entry the writer was handed: the writer
// completes the type bits of the mode, and a link's size and checksum.
BomEntry asRead(BomEntry e)
{
    if ((e.mode & 0170000) == 0) {
        if (e.type == BomEntry::Type::File)
            e.mode |= 0100000;
        else if (e.type == BomEntry::Type::Directory)
            e.mode |= 040000;
        else if (e.type == BomEntry::Type::Link)
            e.mode |= 0120000;
    }
    if (e.type == BomEntry::Type::Link) {
        e.size = quint64(e.linkTarget.toUtf8().size());
        e.checksum = platform::posixChecksum(e.linkTarget.toUtf8());
    }
    if (e.type != BomEntry::Type::Link)
        e.linkTarget.clear();
    if (e.type != BomEntry::Type::Device)
        e.device = 0;
    if (e.type != BomEntry::Type::File && e.type != BomEntry::Type::Link)
        e.checksum = 0;
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

QByteArray writeAll(const QList<BomEntry> &entries)
{
    BomWriter writer;
    for (const BomEntry &e : entries) {
        QString error;
        if (!writer.addEntry(e, &error))
            qWarning() << "addEntry failed:" << error;
    }
    return writer.toByteArray();
}

// The listing of tests/tools/lsbom.py, or an empty optional with the reason.
std::optional<QStringList> pythonListing(const QString &file, QString *why)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        *why = QStringLiteral("python3 is not installed, so there is no independent reader to compare with");
        return std::nullopt;
    }
    const QString script = QFINDTESTDATA("tools/lsbom.py");
    QProcess process;
    process.start(python, {script, file});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *why = QStringLiteral("lsbom.py failed: ") + QString::fromUtf8(process.readAllStandardError());
        return QStringList{QStringLiteral("<failed>")};
    }
    QStringList lines;
    const QList<QByteArray> raw = process.readAllStandardOutput().split('\n');
    for (qsizetype i = 0; i + 1 < raw.size(); ++i)   // the last element follows the final newline
        lines.append(QString::fromUtf8(raw[i]));
    return lines;
}

} // namespace

class TestBom : public QObject
{
    Q_OBJECT

private slots:
    void sampleCounts_data();
    void sampleCounts();
    void finnpSample();
    void pythonApplicationsSample();
    void osquerySample();
    void pyobjcSample();
    void nonAppleSample();
    void matchesIndependentReader_data();
    void matchesIndependentReader();
    void posixChecksum_data();
    void posixChecksum();
    void roundTrip_data();
    void roundTrip();
    void writerLayout_data();
    void writerLayout();
    void threeLevelTree();
    void bytewiseOrder();
    void implicitParents();
    void writerRejects_data();
    void writerRejects();
    void emptyBill();
    void missingFile();
};

void TestBom::sampleCounts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("withRoot");   // entries, "." included
    QTest::newRow("pyobjc") << "pyobjc-InstallerPluginsTestPackage-Archive.bom" << 2;
    QTest::newRow("python-applications") << "python-applications.bom" << 54;
    QTest::newRow("finnp") << "finnp-lsbom-Bom.bom" << 10;
    QTest::newRow("osquery") << "osquery-test_bom.bom" << 247;
    QTest::newRow("mkbom.js") << "NONAPPLE-mkbomjs-test-Bom.bom" << 9;
}

void TestBom::sampleCounts()
{
    QFETCH(QString, file);
    QFETCH(int, withRoot);
    const BomReader reader = BomReader::open(sample(file));
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    QVERIFY(reader.rootEntry().has_value());
    QCOMPARE(reader.rootEntry()->type, BomEntry::Type::Directory);
    QCOMPARE(reader.count() + 1, withRoot);

    const QStringList paths = reader.paths();
    const QList<BomEntry> entries = reader.entries();
    QCOMPARE(paths.size(), withRoot - 1);
    QCOMPARE(entries.size(), withRoot - 1);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        QCOMPARE(entries[i].path, paths[i]);
        QVERIFY(!paths[i].startsWith(QLatin1String("./")));
        QVERIFY(paths[i] != QLatin1String("."));
    }

    QFile f(sample(file));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(BomReader::fromData(f.readAll()).paths(), paths);
}

void TestBom::finnpSample()
{
    const BomReader reader = BomReader::open(sample(QStringLiteral("finnp-lsbom-Bom.bom")));
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    // The ids run alpha 5, empty 6, beta 7: the listing follows names, not ids.
    QCOMPARE(reader.paths(), QStringList({"faust.txt", "link.txt", "one", "one/alpha", "one/alpha/empty", "one/beta",
                                          "one/beta/cats.txt", "two", "two/past.txt"}));
    const QList<BomEntry> entries = reader.entries();
    const BomEntry root = *reader.rootEntry();
    QCOMPARE(root.mode, quint16(040755));
    QCOMPARE(root.uid, 501u);
    QCOMPARE(root.gid, 20u);
    for (const BomEntry &e : entries) {
        QCOMPARE(e.uid, 501u);
        QCOMPARE(e.gid, 20u);
    }
    QCOMPARE(findEntry(entries, "one/beta/cats.txt")->mode, quint16(0100644));
    QCOMPARE(findEntry(entries, "one/beta/cats.txt")->type, BomEntry::Type::File);
    QCOMPARE(findEntry(entries, "one/beta")->type, BomEntry::Type::Directory);
    QCOMPARE(findEntry(entries, "faust.txt")->size, 258u);
    QCOMPARE(findEntry(entries, "two/past.txt")->checksum, 3136442595u);
    QCOMPARE(findEntry(entries, "one/alpha/empty")->size, 0u);
    QCOMPARE(findEntry(entries, "one/alpha/empty")->checksum, 4294967295u);   // cksum of nothing
    const BomEntry *link = findEntry(entries, "link.txt");
    QCOMPARE(link->type, BomEntry::Type::Link);
    QCOMPARE(link->linkTarget, QStringLiteral("faust.txt"));
    QCOMPARE(link->size, 9u);
    QCOMPARE(link->checksum, platform::posixChecksum("faust.txt"));   // Apple checksums the target
}

void TestBom::pythonApplicationsSample()
{
    const BomReader reader = BomReader::open(sample(QStringLiteral("python-applications.bom")));
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    const QStringList paths = reader.paths();
    // "._Python 3.9" has id 53 and "Python 3.9" id 2; "." sorts before "P".
    QCOMPARE(paths.mid(0, 5), QStringList({"._Python 3.9", "Python 3.9", "Python 3.9/._Icon\r", "Python 3.9/IDLE.app",
                                            "Python 3.9/IDLE.app/Contents"}));
    const QList<BomEntry> entries = reader.entries();

    const BomEntry *icon = findEntry(entries, QStringLiteral("Python 3.9/Icon\r"));
    QVERIFY(icon);
    QCOMPARE(icon->type, BomEntry::Type::File);
    QCOMPARE(icon->size, 0u);
    QVERIFY(findEntry(entries, QStringLiteral("Python 3.9/Icon")) == nullptr);
    // "IDLE.app" (D = 0x44) before "Icon\r" (c = 0x63): bytewise, not case-insensitive.
    QVERIFY(paths.indexOf("Python 3.9/IDLE.app") < paths.indexOf("Python 3.9/Icon\r"));

    const BomEntry *link = findEntry(entries, QStringLiteral("Python 3.9/IDLE.app/Contents/MacOS/Python"));
    QVERIFY(link);
    QCOMPARE(link->type, BomEntry::Type::Link);
    QCOMPARE(link->linkTarget,
             QStringLiteral("/Library/Frameworks/Python.framework/Versions/3.9/Resources/Python.app/Contents/MacOS/Python"));
    QCOMPARE(link->size, quint64(link->linkTarget.size()));
    QCOMPARE(link->checksum, platform::posixChecksum(link->linkTarget.toUtf8()));

    // A universal binary: its architecture list follows the checksum.
    const BomEntry *fat = findEntry(entries, QStringLiteral("Python 3.9/Python Launcher.app/Contents/MacOS/Python Launcher"));
    QVERIFY(fat);
    QCOMPARE(fat->type, BomEntry::Type::File);
    QCOMPARE(fat->mode, quint16(0100755));
    QCOMPARE(fat->size, 210912u);
    QCOMPARE(fat->checksum, 2323004274u);

    // AppleDouble entries are ordinary entries with path-only flags.
    QVERIFY(findEntry(entries, QStringLiteral("._Python 3.9")));
    QVERIFY(findEntry(entries, QStringLiteral("Python 3.9/._Icon\r")));
}

void TestBom::osquerySample()
{
    const BomReader reader = BomReader::open(sample(QStringLiteral("osquery-test_bom.bom")));
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    const QStringList paths = reader.paths();
    QCOMPARE(paths.mid(0, 4), QStringList({"private", "private/var", "private/var/log", "private/var/log/osquery"}));
    const QList<BomEntry> entries = reader.entries();
    const BomEntry *thin = findEntry(entries, QStringLiteral("usr/local/bin/osqueryd"));
    QVERIFY(thin);
    QCOMPARE(thin->type, BomEntry::Type::File);
    QCOMPARE(thin->mode, quint16(0100755));
    QCOMPARE(thin->size, 12758140u);
    QCOMPARE(thin->checksum, 2075182232u);
    const BomEntry *link = findEntry(entries, QStringLiteral("usr/local/bin/osqueryi"));
    QVERIFY(link);
    QCOMPARE(link->type, BomEntry::Type::Link);
    QCOMPARE(link->linkTarget, QStringLiteral("osqueryd"));
    QCOMPARE(link->size, 8u);
    // Every folder comes before what it holds.
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const qsizetype slash = paths[i].lastIndexOf(QLatin1Char('/'));
        if (slash > 0)
            QVERIFY(paths.indexOf(paths[i].left(slash)) < i);
    }
}

void TestBom::pyobjcSample()
{
    // An old bundle package: records without trailer, the file's only 27 bytes.
    const BomReader reader = BomReader::open(sample(QStringLiteral("pyobjc-InstallerPluginsTestPackage-Archive.bom")));
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    const QList<BomEntry> entries = reader.entries();
    QCOMPARE(entries.size(), 1);
    const BomEntry &file = entries[0];
    QCOMPARE(file.path, QStringLiteral("InstalledFile.txt"));
    QCOMPARE(file.type, BomEntry::Type::File);
    QCOMPARE(file.mode, quint16(0100644));
    QCOMPARE(file.uid, 501u);
    QCOMPARE(file.gid, 501u);
    QCOMPARE(file.size, 65u);
    QCOMPARE(file.checksum, 3995837755u);
    QCOMPARE(reader.rootEntry()->mode, quint16(040755));
}

void TestBom::nonAppleSample()
{
    // mkbom.js: variables right after the header, an exact-size block table,
    // an 84-byte leaf, flags 0x0003 and no trailer. Same tree as the finnp
    // sample without its link, and the same checksums.
    const BomReader reader = BomReader::open(sample(QStringLiteral("NONAPPLE-mkbomjs-test-Bom.bom")));
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    QCOMPARE(reader.paths(), QStringList({"faust.txt", "one", "one/alpha", "one/alpha/empty", "one/beta",
                                          "one/beta/cats.txt", "two", "two/past.txt"}));
    const QList<BomEntry> entries = reader.entries();
    for (const BomEntry &e : entries) {
        QCOMPARE(e.uid, 0u);
        QCOMPARE(e.gid, 80u);
    }
    QCOMPARE(findEntry(entries, "faust.txt")->size, 258u);
    QCOMPARE(findEntry(entries, "faust.txt")->checksum, 2464829656u);
    QCOMPARE(findEntry(entries, "two/past.txt")->checksum, 3136442595u);
    QCOMPARE(findEntry(entries, "one/beta/cats.txt")->mode, quint16(0100644));
    QCOMPARE(findEntry(entries, "one")->type, BomEntry::Type::Directory);
}

void TestBom::matchesIndependentReader_data()
{
    QTest::addColumn<QString>("file");     // a sample, or empty for a written bill
    QTest::addColumn<int>("generated");    // entries to generate
    QTest::newRow("pyobjc") << "pyobjc-InstallerPluginsTestPackage-Archive.bom" << 0;
    QTest::newRow("python-applications") << "python-applications.bom" << 0;
    QTest::newRow("finnp") << "finnp-lsbom-Bom.bom" << 0;
    QTest::newRow("osquery") << "osquery-test_bom.bom" << 0;
    QTest::newRow("mkbom.js") << "NONAPPLE-mkbomjs-test-Bom.bom" << 0;
    QTest::newRow("written, 7 leaves") << QString() << 3500;
}

void TestBom::matchesIndependentReader()
{
    QFETCH(QString, file);
    QFETCH(int, generated);
    QTemporaryDir dir;
    QString path = sample(file);
    if (generated > 0) {
        path = dir.filePath(QStringLiteral("generated.bom"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(writeAll(makeTree(generated, 40, 7)));
    }
    QString why;
    const std::optional<QStringList> expected = pythonListing(path, &why);
    if (!expected)
        QSKIP(qPrintable(why));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    const BomReader reader = BomReader::open(path);
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    const QStringList actual = reader.paths();
    QCOMPARE(actual.size(), expected->size());
    for (qsizetype i = 0; i < actual.size(); ++i)
        QCOMPARE(actual[i], expected->at(i));
}

void TestBom::posixChecksum_data()
{
    // Expected values from coreutils `cksum`.
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("empty") << QByteArray() << 4294967295u;
    QTest::newRow("123456789") << QByteArray("123456789") << 930766865u;
    QTest::newRow("hello line") << QByteArray("hello\n") << 3015617425u;
    QTest::newRow("link target") << QByteArray("faust.txt") << 3434127505u;
    // A length that needs three bytes when appended.
    QTest::newRow("100000 a") << QByteArray(100000, 'a') << 614267494u;
}

void TestBom::posixChecksum()
{
    QFETCH(QByteArray, data);
    QFETCH(quint32, expected);
    QCOMPARE(platform::posixChecksum(data), expected);
}

void TestBom::roundTrip_data()
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

void TestBom::roundTrip()
{
    QFETCH(int, count);
    QFETCH(int, maxDepth);
    QFETCH(int, chain);
    QList<BomEntry> input = makeTree(count, maxDepth, quint32(count));
    QString folder;
    for (int level = 0; level < chain; ++level) {
        BomEntry e;
        folder += level == 0 ? QStringLiteral("d") : QStringLiteral("/d");
        e.path = folder;
        e.type = BomEntry::Type::Directory;
        e.mode = 040700;
        input.append(e);
        e.path = folder + QStringLiteral("/file");
        e.type = BomEntry::Type::File;
        e.mode = 0100600;
        e.size = quint64(level);
        input.append(e);
    }
    BomWriter writer;
    BomEntry root;
    root.type = BomEntry::Type::Directory;
    root.mode = 040775;
    root.uid = 501;
    root.gid = 80;
    root.mtime = 1600000000;
    QVERIFY(writer.addEntry(root));
    for (const BomEntry &e : input) {
        QString error;
        QVERIFY2(writer.addEntry(e, &error), qPrintable(error));
    }
    QCOMPARE(writer.count(), qsizetype(input.size()));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("round.bom"));
    QString error;
    QVERIFY2(writer.write(path, &error), qPrintable(error));
    const BomReader reader = BomReader::open(path);
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));

    QList<BomEntry> expected;
    for (const BomEntry &e : input)
        expected.append(asRead(e));
    expected = inBillOrder(expected);
    const QList<BomEntry> actual = reader.entries();
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual[i].path, expected[i].path);
        QCOMPARE(actual[i].type, expected[i].type);
        QCOMPARE(actual[i].mode, expected[i].mode);
        QCOMPARE(actual[i].uid, expected[i].uid);
        QCOMPARE(actual[i].gid, expected[i].gid);
        QCOMPARE(actual[i].mtime, expected[i].mtime);
        QCOMPARE(actual[i].size, expected[i].size);
        QCOMPARE(actual[i].checksum, expected[i].checksum);
        QCOMPARE(actual[i].linkTarget, expected[i].linkTarget);
        QCOMPARE(actual[i].device, expected[i].device);
    }
    QCOMPARE(*reader.rootEntry(), asRead(root));
    if (chain > 0) {
        qsizetype deepest = 0;
        for (const BomEntry &e : actual)
            deepest = std::max(deepest, e.path.count(QLatin1Char('/')) + 1);
        QCOMPARE(deepest, qsizetype(chain + 1));
    }
}

void TestBom::writerLayout_data()
{
    QTest::addColumn<int>("count");   // entries besides "."
    QTest::addColumn<int>("leaves");
    QTest::newRow("root only") << 0 << 1;
    QTest::newRow("one full leaf") << 509 << 1;
    QTest::newRow("two leaves") << 510 << 2;
    QTest::newRow("six leaves") << 510 * 5 + 7 << 6;
}

void TestBom::writerLayout()
{
    QFETCH(int, count);
    QFETCH(int, leaves);
    BomWriter writer;
    BomEntry root;
    root.type = BomEntry::Type::Directory;
    QVERIFY(writer.addEntry(root));
    for (int i = 0; i < count; ++i) {
        BomEntry e;
        e.path = i < 7 ? QStringLiteral("d%1").arg(i) : QStringLiteral("d%1/f%2").arg(i % 7).arg(i);
        e.type = i < 7 ? BomEntry::Type::Directory : BomEntry::Type::File;
        QVERIFY(writer.addEntry(e));
    }
    QCOMPARE(writer.count(), qsizetype(count));
    const Raw raw{writer.toByteArray()};
    const QByteArray &d = raw.d;
    QVERIFY(d.startsWith("BOMStore"));
    QCOMPARE(raw.u32(8), 1u);
    QCOMPARE(raw.u32(24), 512u);   // variables right after a 512-byte header
    QCOMPARE(d.mid(32, 512 - 32), QByteArray(512 - 32, '\0'));
    QCOMPARE(raw.u32(16) + raw.u32(20), quint32(d.size()));   // block table last
    QCOMPARE(raw.u32(raw.u32(16)), raw.u32(12) + 1);
    QList<QByteArray> names;
    for (const auto &v : raw.variables())
        names.append(v.first);
    QCOMPARE(names, QList<QByteArray>({"BomInfo", "Paths", "HLIndex", "VIndex", "Size64"}));

    const auto [treeAt, treeLength] = raw.block(raw.variable("Paths"));
    QCOMPARE(treeLength, 21u);
    QCOMPARE(d.mid(treeAt, 4), QByteArray("tree"));
    QCOMPARE(raw.u32(treeAt + 12), 4096u);
    QCOMPARE(raw.u32(treeAt + 16), quint32(count + 1));
    const quint32 top = raw.u32(treeAt + 8);
    const auto [topAt, topLength] = raw.block(top);
    QCOMPARE(topLength, 4096u);

    // Walk the leaves from the index node (or the single leaf).
    QList<quint32> leafBlocks;
    if (leaves == 1) {
        QCOMPARE(raw.u16(topAt), quint16(1));
        leafBlocks.append(top);
    } else {
        QCOMPARE(raw.u16(topAt), quint16(0));
        const quint32 separators = raw.u16(topAt + 2);
        QCOMPARE(separators, quint32(leaves - 1));   // Apple: count + 1 pairs
        for (quint32 i = 0; i <= separators; ++i)
            leafBlocks.append(raw.u32(topAt + 12 + 8 * i));
        QCOMPARE(raw.u32(topAt + 12 + 8 * separators + 4), 0u);   // the last key is 0
    }
    quint32 seen = 0;
    quint32 previous = 0;
    quint32 previousParent = 0;
    QByteArray previousName;
    for (qsizetype i = 0; i < leafBlocks.size(); ++i) {
        const auto [at, length] = raw.block(leafBlocks[i]);
        QCOMPARE(length, 4096u);
        QCOMPARE(raw.u16(at), quint16(1));
        const quint32 n = raw.u16(at + 2);
        QVERIFY(n <= 510);
        QCOMPARE(raw.u32(at + 4), i + 1 < leafBlocks.size() ? leafBlocks[i + 1] : 0u);   // forward
        QCOMPARE(raw.u32(at + 8), previous);                                              // backward
        previous = leafBlocks[i];
        for (quint32 k = 0; k < n; ++k) {
            const auto [valueAt, valueLength] = raw.block(raw.u32(at + 12 + 8 * k));
            const auto [keyAt, keyLength] = raw.block(raw.u32(at + 16 + 8 * k));
            QCOMPARE(valueLength, 8u);
            const auto [recordAt, recordLength] = raw.block(raw.u32(valueAt + 4));
            QCOMPARE(raw.u16(recordAt + 2), quint16(0x000F));
            QCOMPARE(d.mid(recordAt + recordLength - 8, 8), QByteArray(8, '\0'));
            const quint32 id = raw.u32(valueAt);
            const quint32 parent = raw.u32(keyAt);
            QVERIFY(parent < id);
            if (seen == 0) {
                QCOMPARE(id, 1u);
                QCOMPARE(parent, 0u);
                QCOMPARE(d.mid(keyAt + 4, keyLength - 4), QByteArray(".\0", 2));
            }
            // Keys ascend by parent id, then name, across leaves.
            const QByteArray name = d.mid(keyAt + 4, keyLength - 5);
            QVERIFY(seen == 0 || parent > previousParent || (parent == previousParent && name > previousName));
            previousParent = parent;
            previousName = name;
            ++seen;
        }
        if (leaves > 1 && i + 1 < leafBlocks.size()) {
            // The index records the key of each leaf's last entry.
            const quint32 lastKey = raw.u32(at + 16 + 8 * (n - 1));
            QCOMPARE(raw.u32(topAt + 12 + 8 * quint32(i) + 4), lastKey);
        }
    }
    QCOMPARE(seen, quint32(count + 1));
}

void TestBom::threeLevelTree()
{
    // More than 510 full leaves need a second index level. Names are chosen
    // so that the expected order is simply the order of creation.
    const int folders = 600;
    const int perFolder = 440;   // 600 * 441 + 1 entries: 519 leaves
    BomWriter writer;
    QStringList expected;
    expected.reserve(folders * (perFolder + 1));
    for (int f = 0; f < folders; ++f) {
        BomEntry e;
        e.type = BomEntry::Type::Directory;
        e.path = QStringLiteral("f%1").arg(f, 4, 10, QLatin1Char('0'));
        expected.append(e.path);
        QVERIFY(writer.addEntry(e));
        e.type = BomEntry::Type::File;
        const QString folder = e.path;
        for (int i = 0; i < perFolder; ++i) {
            e.path = folder + QStringLiteral("/n%1").arg(i, 4, 10, QLatin1Char('0'));
            expected.append(e.path);
            QVERIFY(writer.addEntry(e));
        }
    }
    const QByteArray data = writer.toByteArray();
    const Raw raw{data};
    const auto [treeAt, treeLength] = raw.block(raw.variable("Paths"));
    QVERIFY(treeLength >= 21);
    const auto [topAt, topLength] = raw.block(raw.u32(treeAt + 8));
    QCOMPARE(raw.u16(topAt), quint16(0));
    const auto [midAt, midLength] = raw.block(raw.u32(topAt + 12));
    QCOMPARE(raw.u16(midAt), quint16(0));   // index below index: three levels
    const auto [leafAt, leafLength] = raw.block(raw.u32(midAt + 12));
    QCOMPARE(raw.u16(leafAt), quint16(1));
    Q_UNUSED(topLength);
    Q_UNUSED(midLength);
    Q_UNUSED(leafLength);

    const BomReader reader = BomReader::fromData(data);
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    QCOMPARE(reader.paths(), expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("three.bom"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(data);
    out.close();
    QString why;
    const std::optional<QStringList> python = pythonListing(path, &why);
    if (!python)
        QSKIP(qPrintable(why));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(*python, expected);
}

void TestBom::bytewiseOrder()
{
    // A plain sort of whole paths would put "a-b" and "a.b" before "a/x"
    // ("-" and "." sort before "/"); the bill lists a folder's contents right
    // after the folder.
    BomWriter writer;
    for (const QString &path : {QStringLiteral("\u00e9"), QStringLiteral("a.b"), QStringLiteral("a/x"),
                                QStringLiteral("a-b"), QStringLiteral("Icon\r"), QStringLiteral("Icon"),
                                QStringLiteral("A")}) {
        BomEntry e;
        e.path = path;
        e.type = BomEntry::Type::File;
        QVERIFY(writer.addEntry(e));
    }
    const BomReader reader = BomReader::fromData(writer.toByteArray());
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    QCOMPARE(reader.paths(), QStringList({"A", "Icon", "Icon\r", "a", "a/x", "a-b", "a.b", "\u00e9"}));
}

void TestBom::implicitParents()
{
    BomWriter writer;
    BomEntry file;
    file.path = QStringLiteral("Library/Receipts/x/file");
    file.type = BomEntry::Type::File;
    file.checksum = 42;
    QVERIFY(writer.addEntry(file));
    // Added after its implicit creation: the caller's metadata wins.
    BomEntry folder;
    folder.path = QStringLiteral("./Library/Receipts");
    folder.type = BomEntry::Type::Directory;
    folder.mode = 040700;
    folder.uid = 7;
    QVERIFY(writer.addEntry(folder));
    const BomReader reader = BomReader::fromData(writer.toByteArray());
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    const QList<BomEntry> entries = reader.entries();
    QCOMPARE(reader.paths(), QStringList({"Library", "Library/Receipts", "Library/Receipts/x", "Library/Receipts/x/file"}));
    QCOMPARE(entries[0].type, BomEntry::Type::Directory);
    QCOMPARE(entries[0].mode, quint16(040755));
    QCOMPARE(entries[1].mode, quint16(040700));
    QCOMPARE(entries[1].uid, 7u);
    QCOMPARE(entries[3].checksum, 42u);
    QVERIFY(reader.rootEntry().has_value());
}

void TestBom::writerRejects_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("type");
    QTest::newRow("absolute") << "/etc/passwd" << int(BomEntry::Type::File);
    QTest::newRow("parent step") << "a/../../etc" << int(BomEntry::Type::File);
    QTest::newRow("dot step") << "a/./b" << int(BomEntry::Type::File);
    QTest::newRow("empty component") << "a//b" << int(BomEntry::Type::File);
    QTest::newRow("trailing slash") << "a/b/" << int(BomEntry::Type::File);
    QTest::newRow("too long") << QString(1024, QLatin1Char('x')) << int(BomEntry::Type::File);
    QTest::newRow("unknown type") << "a/b" << int(BomEntry::Type::Unknown);
    QTest::newRow("below a file") << "file/child" << int(BomEntry::Type::File);
    QTest::newRow("folder with children made a file") << "dir" << int(BomEntry::Type::File);
    QTest::newRow("root as a file") << "." << int(BomEntry::Type::File);
}

void TestBom::writerRejects()
{
    QFETCH(QString, path);
    QFETCH(int, type);
    BomWriter writer;
    BomEntry setup;
    setup.type = BomEntry::Type::File;
    setup.path = QStringLiteral("file");
    QVERIFY(writer.addEntry(setup));
    setup.path = QStringLiteral("dir/inner");
    QVERIFY(writer.addEntry(setup));
    const QByteArray before = writer.toByteArray();

    BomEntry e;
    e.path = path;
    e.type = BomEntry::Type(type);
    QString error;
    QVERIFY(!writer.addEntry(e, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(writer.toByteArray(), before);   // a refused entry leaves no trace
}

void TestBom::emptyBill()
{
    // No entry at all, not even "." (as in a real empty bill).
    BomWriter writer;
    const BomReader reader = BomReader::fromData(writer.toByteArray());
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    QCOMPARE(reader.count(), 0);
    QVERIFY(reader.paths().isEmpty());
    QVERIFY(!reader.rootEntry().has_value());
}

void TestBom::missingFile()
{
    QTemporaryDir dir;
    const BomReader reader = BomReader::open(dir.filePath(QStringLiteral("absent.bom")));
    QVERIFY(!reader.isValid());
    QVERIFY(!reader.errorString().isEmpty());
    QVERIFY(reader.paths().isEmpty());
    QVERIFY(!BomReader().isValid());
}

QTEST_GUILESS_MAIN(TestBom)
#include "tst_bom.moc"
