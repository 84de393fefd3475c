// Bills that are cut short, corrupted at every offset or crafted to trip one
// check each: the reader refuses them with a reason or gives a listing that
// keeps its promises, and never reads out of bounds (the sanitizer build
// runs this suite too).

#include "platform/bom/BomReader.h"
#include "platform/bom/BomWriter.h"

#include <QFile>
#include <QtEndian>
#include <QtTest>

#include <functional>

using platform::BomEntry;
using platform::BomReader;
using platform::BomWriter;

namespace {

QByteArray readSample(const char *name)
{
    QFile f(QStringLiteral(DORVANE_SAMPLES_DIR "/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Folders "a", "a/b", "x", a file "a/b/c", "x/y", "ab", a link "ln", and
// `extraFiles` more files at the top (510 fill a leaf).
QByteArray makeBill(int extraFiles)
{
    BomWriter writer;
    auto add = [&](const QString &path, BomEntry::Type type) {
        BomEntry e;
        e.path = path;
        e.type = type;
        e.linkTarget = type == BomEntry::Type::Link ? QStringLiteral("a/b/c") : QString();
        writer.addEntry(e);
    };
    for (const char *folder : {"a", "a/b", "x"})
        add(QLatin1String(folder), BomEntry::Type::Directory);
    for (const char *file : {"a/b/c", "x/y", "ab"})
        add(QLatin1String(file), BomEntry::Type::File);
    add(QStringLiteral("ln"), BomEntry::Type::Link);
    for (int i = 0; i < extraFiles; ++i)
        add(QStringLiteral("f%1").arg(i, 5, 10, QLatin1Char('0')), BomEntry::Type::File);
    return writer.toByteArray();
}

// Byte-level access to a well-formed bill, to damage it in one precise place.
struct Bill
{
    QByteArray d;

    quint32 u32(quint32 at) const { return qFromBigEndian<quint32>(d.constData() + at); }
    quint16 u16(quint32 at) const { return qFromBigEndian<quint16>(d.constData() + at); }
    void setU32(quint32 at, quint32 v) { qToBigEndian<quint32>(v, d.data() + at); }
    void setU16(quint32 at, quint16 v) { qToBigEndian<quint16>(v, d.data() + at); }

    quint32 slot(quint32 block) const { return u32(16) + 4 + 8 * block; }
    quint32 offset(quint32 block) const { return u32(slot(block)); }
    quint32 length(quint32 block) const { return u32(slot(block) + 4); }

    // Offset of the variable's record {block, name length, name}.
    quint32 variableAt(const QByteArray &name) const
    {
        quint32 at = u32(24) + 4;
        for (quint32 i = 0, n = u32(u32(24)); i < n; at += 5 + quint8(d[at + 4]), ++i) {
            if (d.mid(at + 5, quint8(d[at + 4])) == name)
                return at;
        }
        return 0;
    }
    quint32 tree() const { return u32(variableAt("Paths")); }
    quint32 top() const { return u32(offset(tree()) + 8); }

    QList<quint32> leaves() const
    {
        quint32 node = top();
        while (u16(offset(node)) == 0)
            node = u32(offset(node) + 12);
        QList<quint32> result;
        for (; node != 0; node = u32(offset(node) + 4))
            result.append(node);
        return result;
    }

    struct Key
    {
        quint32 value = 0, key = 0, record = 0, id = 0;
    };
    Key find(const QByteArray &name) const
    {
        for (quint32 leaf : leaves()) {
            for (quint32 at = offset(leaf), i = 0; i < u16(at + 2); ++i) {
                const quint32 value = u32(at + 12 + 8 * i), key = u32(at + 16 + 8 * i);
                if (d.mid(offset(key) + 4, length(key) - 5) == name)
                    return {value, key, u32(offset(value) + 4), u32(offset(value))};
            }
        }
        qFatal("no key %s", name.constData());
    }
    void setParent(const QByteArray &name, quint32 parent) { setU32(offset(find(name).key), parent); }

    // Replaces the first leaf by one that keeps its own pairs (or not) and
    // names the entry `copies` more times. Duplicates without children are legal.
    void repeat(const QByteArray &name, quint32 copies, bool keepOwn)
    {
        const quint32 leaf = leaves().first(), own = keepOwn ? u16(offset(leaf) + 2) : 0;
        const Key k = find(name);
        QByteArray node = d.mid(offset(leaf), 12 + 8 * own);
        qToBigEndian<quint16>(quint16(own + copies), node.data() + 2);
        for (quint32 i = 0; i < copies; ++i) {
            node.append(QByteArray(8, '\0'));
            qToBigEndian<quint32>(k.value, node.data() + node.size() - 8);
            qToBigEndian<quint32>(k.key, node.data() + node.size() - 4);
        }
        setU32(slot(leaf), quint32(d.size()));
        setU32(slot(leaf) + 4, quint32(node.size()));
        d.append(node);
    }
};

// `count` folders of `length`-byte names, each then put inside the one before.
Bill chainOfFolders(int count, int length)
{
    BomWriter writer;
    for (int i = 0; i < count; ++i) {
        BomEntry e;
        e.type = BomEntry::Type::Directory;
        e.path = QString(length, QLatin1Char('a' + i));
        writer.addEntry(e);
    }
    Bill b{writer.toByteArray()};
    for (int i = 1; i < count; ++i)
        b.setParent(QByteArray(length, char('a' + i)), b.find(QByteArray(length, char('a' + i - 1))).id);
    return b;
}

// What a valid listing must always satisfy, however odd the file; the first
// broken promise, or nothing. Every folder is listed itself before its
// contents, so checking the last name of each path checks every name.
const char *brokenPromise(const BomReader &reader, qsizetype fileSize)
{
    const QStringList paths = reader.paths();
    if (!reader.errorString().isEmpty() || paths.size() != reader.count() || paths.size() > fileSize / 16)
        return "an error or a count that does not fit";
    QStringList open;   // the folders the walk is in
    for (const QString &path : paths) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QStringView name = QStringView(path).mid(slash + 1);
        const QStringView parent = QStringView(path).left(std::max<qsizetype>(slash, 0));
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            return "an empty, \".\" or \"..\" name";
        if (path.toUtf8().size() > 1023)
            return "a path longer than PATH_MAX";
        // Depth first: the folder holding a path is one the walk is in.
        while (!open.isEmpty() && open.last() != parent)
            open.removeLast();
        if (!parent.isEmpty() && open.isEmpty())
            return "a path listed outside its folder";
        open.append(path);
    }
    return nullptr;
}

bool refused(const BomReader &reader)
{
    return !reader.isValid() && !reader.errorString().isEmpty() && reader.paths().isEmpty()
        && reader.entries().isEmpty() && !reader.rootEntry();
}

// One damage each, with the words its error must contain; the written bill
// has `extraFiles` more files (1100 give an index node and three leaves).
struct Crafted
{
    const char *name;
    int extraFiles;
    const char *keyword;
    std::function<void(Bill &)> damage;
};

const QList<Crafted> &craftedBills()
{
    static const QList<Crafted> list{
        {"parent ids form a cycle", 0, "cannot be reached", [](Bill &b) { b.setParent("a", b.find("b").id); }},
        {"parent id names nothing", 0, "cannot be reached", [](Bill &b) { b.setParent("y", 99999); }},
        {"two folders share an id", 0, "more than one entry",
         [](Bill &b) { b.setU32(b.offset(b.find("x").value), b.find("a").id); }},
        {"path id 0", 0, "path id 0", [](Bill &b) { b.setU32(b.offset(b.find("ab").value), 0); }},
        {"leaf links come round", 1100, "cycle",
         [](Bill &b) { b.setU32(b.offset(b.leaves().last()) + 4, b.leaves().first()); }},
        {"leaf links up to the index", 1100, "cycle", [](Bill &b) { b.setU32(b.offset(b.leaves()[1]) + 4, b.top()); }},
        {"index node points at itself", 1100, "cycle", [](Bill &b) { b.setU32(b.offset(b.top()) + 12, b.top()); }},
        {"leaf count beyond its block", 1100, "too short", [](Bill &b) { b.setU16(b.offset(b.leaves()[1]) + 2, 0xFFFF); }},
        {"index count beyond its block", 1100, "too short", [](Bill &b) { b.setU16(b.offset(b.top()) + 2, 0xFFFF); }},
        {"more entries than the file can hold", 0, "more entries", [](Bill &b) { b.repeat("ab", 0xFFFF, false); }},
        {"block table count beyond the file", 0, "slots", [](Bill &b) { b.setU32(b.u32(16), 0xFFFFFFFF); }},
        {"block table past the end", 0, "outside the file", [](Bill &b) { b.setU32(16, quint32(b.d.size()) + 100); }},
        {"variables past the end", 0, "outside the file", [](Bill &b) { b.setU32(24, quint32(b.d.size()) - 2); }},
        {"variable count beyond the table", 0, "beyond the variables", [](Bill &b) { b.setU32(b.u32(24), 0xFFFFFFFF); }},
        {"variable name past the table", 0, "runs past", [](Bill &b) { b.d[b.variableAt("Size64") + 4] = char(0xFF); }},
        {"record length huge", 0, "outside the file",
         [](Bill &b) { b.setU32(b.slot(b.find("c").record) + 4, 0xFFFFFFF0); }},
        {"block number beyond the table", 0, "beyond the block table",
         [](Bill &b) { b.setU32(b.offset(b.leaves().first()) + 16, 0x7FFFFFFF); }},
        {"null block as a value", 0, "null block", [](Bill &b) { b.setU32(b.offset(b.leaves().first()) + 12, 0); }},
        {"no Paths variable", 0, "no Paths", [](Bill &b) { b.d[b.variableAt("Paths") + 9] = 'z'; }},
        {"Paths is not a tree", 0, "not point at a tree", [](Bill &b) { b.d[b.offset(b.tree())] = 'T'; }},
        {"link target past its record", 0, "too short for its type",
         [](Bill &b) { b.setU32(b.offset(b.find("ln").record) + 27, 0xFFFF); }},
        {"file record without checksum", 0, "too short for its type",
         [](Bill &b) { b.setU32(b.slot(b.find("c").record) + 4, 25); }},
        // The flags still announce full metadata.
        {"record cut after its flags", 0, "too short for its type",
         [](Bill &b) { b.setU32(b.slot(b.find("x").record) + 4, 10); }},
        {"name without NUL", 0, "NUL", [](Bill &b) { b.setU32(b.slot(b.find("ab").key) + 4, b.length(b.find("ab").key) - 1); }},
        {"name with a slash", 0, "slash", [](Bill &b) { b.d[b.offset(b.find("ab").key) + 5] = '/'; }},
        {"name ..", 0, "\"..\"", [](Bill &b) { b.d.replace(b.offset(b.find("ab").key) + 4, 2, ".."); }},
        {"name . below the top", 0, "below the top", [](Bill &b) { b.d[b.offset(b.find("c").key) + 4] = '.'; }},
        {"path longer than PATH_MAX", 0, "longer than", [](Bill &b) { b = chainOfFolders(6, 200); }},
        // 999-byte paths named many times: few bytes of file, a huge listing.
        {"listing larger than the file can describe", 0, "larger than",
         [](Bill &b) {
             b = chainOfFolders(5, 199);
             b.repeat(QByteArray(199, 'e'), quint32(b.d.size()) / 8 - 20, true);
         }},
        {"bad magic", 0, "magic", [](Bill &b) { b.d[3] = 'X'; }},
        {"version 2", 0, "version", [](Bill &b) { b.setU32(8, 2); }},
        {"empty file", 0, "too short", [](Bill &b) { b.d.clear(); }},
    };
    return list;
}

} // namespace

class TestBomHostile : public QObject
{
    Q_OBJECT

private slots:
    void damagedAtEveryOffset_data()
    {
        QTest::addColumn<QByteArray>("bill");
        // 1: every byte gets every value. Above 1 the structure still does; of
        // the 600 entries, much alike, every stride-th byte gets one value.
        QTest::addColumn<int>("stride");
        QTest::newRow("mkbom.js sample") << readSample("NONAPPLE-mkbomjs-test-Bom.bom") << 1;
        QTest::newRow("finnp sample") << readSample("finnp-lsbom-Bom.bom") << 1;
        QTest::newRow("python-applications sample") << readSample("python-applications.bom") << 1;
        QTest::newRow("written, an index and two leaves") << makeBill(600) << 7;
    }

    void damagedAtEveryOffset()
    {
        QFETCH(QByteArray, bill);
        QFETCH(int, stride);
        const BomReader intact = BomReader::fromData(bill);
        QVERIFY2(intact.isValid(), qPrintable(intact.errorString()));
        QVERIFY(!brokenPromise(intact, bill.size()));
        const QStringList intactPaths = intact.paths();

        // These bills keep their block table at the very end, so any cut loses
        // part of it and must be refused.
        for (qsizetype length = 0; length < bill.size(); ++length) {
            if (!refused(BomReader::fromData(QByteArray::fromRawData(bill.constData(), length))))
                QFAIL(qPrintable(QStringLiteral("cut to %1 bytes: not refused").arg(length)));
        }

        // The header, the variables, the tree's nodes and the block table's head.
        const Bill b{bill};
        QList<std::pair<quint32, quint32>> structure{{0, 512}, {b.u32(24), b.u32(28)}, {b.u32(16), 64}};
        QList<quint32> nodes = b.leaves();
        for (quint32 node : nodes << b.top())
            structure.append({b.offset(node), 64});
        auto structural = [&](quint32 at) {
            return std::any_of(structure.begin(), structure.end(), [at](auto r) { return at - r.first < r.second; });
        };

        // Every byte set to values that stress counts and offsets: each result
        // is a refusal or a listing that keeps its promises.
        const char values[] = {'\x00', '\x01', '\x7f', '\x80', '\xff'};
        int valid = 0;
        int invalid = 0;
        QByteArray damaged = bill;
        for (quint32 at = 0; at < quint32(bill.size()); ++at) {
            const bool all = stride == 1 || structural(at);
            if (!all && at % stride != 0)
                continue;
            for (int v = all ? 0 : at % 5; v < (all ? 5 : int(at % 5) + 1); ++v) {
                if (bill[at] == values[v])
                    continue;
                damaged[at] = values[v];
                const BomReader reader = BomReader::fromData(damaged);
                // A listing like the intact one keeps the same promises.
                const char *broken = !reader.isValid() ? (refused(reader) ? nullptr : "refused, yet something kept")
                                     : reader.paths() == intactPaths ? nullptr
                                                                     : brokenPromise(reader, damaged.size());
                if (broken)
                    QFAIL(qPrintable(QStringLiteral("byte %1 set to %2: %3").arg(at).arg(quint8(values[v])).arg(broken)));
                ++(reader.isValid() ? valid : invalid);
            }
            damaged[at] = bill[at];
        }
        // Both occur: damage to unused bytes is harmless, to offsets and counts caught.
        QVERIFY(valid > 0 && invalid > 0);
    }

    void crafted_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < craftedBills().size(); ++i)
            QTest::newRow(craftedBills().at(i).name) << i;
    }

    void crafted()
    {
        QFETCH(int, index);
        const Crafted &crafted = craftedBills().at(index);
        Bill b{makeBill(crafted.extraFiles)};
        QVERIFY(crafted.extraFiles == 0 || b.leaves().size() >= 3);
        crafted.damage(b);
        const BomReader reader = BomReader::fromData(b.d);
        QVERIFY(refused(reader));
        QVERIFY2(reader.errorString().contains(QLatin1String(crafted.keyword)), qPrintable(reader.errorString()));
    }

    void oddButValid()
    {
        // Keys a writer did not sort still give the bill's order.
        Bill b{makeBill(0)};
        const QStringList expected = BomReader::fromData(b.d).paths();
        QCOMPARE(expected.size(), 7);
        const quint32 leaf = b.offset(b.leaves().first());
        const quint32 count = b.u16(leaf + 2);
        const QByteArray pairs = b.d.mid(leaf + 12, 8 * count);
        for (quint32 i = 0; i < count; ++i)
            b.d.replace(leaf + 12 + 8 * i, 8, pairs.mid(8 * (count - 1 - i), 8));
        QCOMPARE(BomReader::fromData(b.d).paths(), expected);

        // Flags 0: the record holds the type alone, and nothing after it is read.
        const quint32 record = b.find("ab").record;
        b.setU16(b.offset(record) + 2, 0);
        b.setU32(b.slot(record) + 4, 4);
        const BomReader pathOnly = BomReader::fromData(b.d);
        QVERIFY2(pathOnly.isValid(), qPrintable(pathOnly.errorString()));
        const BomEntry ab = pathOnly.entries().at(expected.indexOf(QStringLiteral("ab")));
        QCOMPARE(ab.type, BomEntry::Type::File);
        QCOMPARE(ab.mode, quint16(0));

        // A deepest entry named three more times is legal, if odd.
        Bill chain = chainOfFolders(5, 199);
        chain.repeat(QByteArray(199, 'e'), 3, true);
        const BomReader repeated = BomReader::fromData(chain.d);
        QVERIFY2(repeated.isValid(), qPrintable(repeated.errorString()));
        QCOMPARE(repeated.count(), 5 + 3);
    }
};

QTEST_GUILESS_MAIN(TestBomHostile)
#include "tst_bom_hostile.moc"
