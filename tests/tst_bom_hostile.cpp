#include "platform/bom/BomReader.h"
#include "platform/bom/BomWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using platform::BomEntry;
using platform::BomReader;
using platform::BomWriter;

namespace {

QByteArray readSample(const QString &name)
{
    QFile f(QStringLiteral(DORVANE_SAMPLES_DIR "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A bill with a few folders, a file, a link, and `extraFiles` more files at
// the top (enough of them give several leaves and an index node).
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
    add(QStringLiteral("a"), BomEntry::Type::Directory);
    add(QStringLiteral("a/b"), BomEntry::Type::Directory);
    add(QStringLiteral("a/b/c"), BomEntry::Type::File);
    add(QStringLiteral("x"), BomEntry::Type::Directory);
    add(QStringLiteral("x/y"), BomEntry::Type::File);
    add(QStringLiteral("ln"), BomEntry::Type::Link);
    add(QStringLiteral("ab"), BomEntry::Type::File);
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
        for (quint32 i = 0, n = u32(u32(24)); i < n; ++i) {
            const quint8 length = quint8(d[at + 4]);
            if (d.mid(at + 5, length) == name)
                return at;
            at += 5 + length;
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
        quint32 value = 0;
        quint32 key = 0;
        quint32 record = 0;
        quint32 id = 0;
    };
    Key find(const QByteArray &name) const
    {
        for (quint32 leaf : leaves()) {
            const quint32 at = offset(leaf);
            for (quint32 i = 0; i < u16(at + 2); ++i) {
                Key k{u32(at + 12 + 8 * i), u32(at + 16 + 8 * i), 0, 0};
                if (d.mid(offset(k.key) + 4, length(k.key) - 5) == name) {
                    k.record = u32(offset(k.value) + 4);
                    k.id = u32(offset(k.value));
                    return k;
                }
            }
        }
        qFatal("no key %s", name.constData());
        return {};
    }
    void setParent(const QByteArray &name, quint32 parent) { setU32(offset(find(name).key), parent); }
};

// What a valid listing must always satisfy, however odd the file. Every
// folder is listed itself before its contents, so checking the last name of
// each path checks every name.
void checkListing(const BomReader &reader, qsizetype fileSize, const QByteArray &label)
{
    const QStringList paths = reader.paths();
    QVERIFY2(reader.errorString().isEmpty(), label.constData());
    QVERIFY2(paths.size() == reader.count(), label.constData());
    QVERIFY2(paths.size() <= fileSize / 16, label.constData());
    QStringList open;   // the folders the walk is in
    for (const QString &path : paths) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QStringView name = QStringView(path).mid(slash + 1);
        const QStringView parent = QStringView(path).left(std::max<qsizetype>(slash, 0));
        QVERIFY2(!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."), label.constData());
        QVERIFY2(path.toUtf8().size() <= 1023, label.constData());
        // Depth first: the folder holding a path is one the walk is in.
        while (!open.isEmpty() && open.last() != parent)
            open.removeLast();
        QVERIFY2(parent.isEmpty() || !open.isEmpty(), label.constData());
        open.append(path);
    }
}

} // namespace

class TestBomHostile : public QObject
{
    Q_OBJECT

private slots:
    void truncatedAndCorrupted_data();
    void truncatedAndCorrupted();
    void crafted_data();
    void crafted();
    void keysOutOfOrder();
    void pathOnlyRecord();
    void entryCap();
    void listingCap();
    void truncatedFile();
};

void TestBomHostile::truncatedAndCorrupted_data()
{
    QTest::addColumn<QByteArray>("bill");
    QTest::addColumn<int>("stride");   // corrupt every stride-th byte past the structural part
    QTest::newRow("mkbom.js sample") << readSample(QStringLiteral("NONAPPLE-mkbomjs-test-Bom.bom")) << 1;
    QTest::newRow("finnp sample") << readSample(QStringLiteral("finnp-lsbom-Bom.bom")) << 2;
    QTest::newRow("python-applications sample") << readSample(QStringLiteral("python-applications.bom")) << 7;
    QTest::newRow("written, two leaves") << makeBill(600) << 53;
}

void TestBomHostile::truncatedAndCorrupted()
{
    QFETCH(QByteArray, bill);
    QFETCH(int, stride);
    QVERIFY(!bill.isEmpty());
    {
        const BomReader intact = BomReader::fromData(bill);
        QVERIFY2(intact.isValid(), qPrintable(intact.errorString()));
    }

    // These bills keep their block table at the very end, so any cut loses
    // part of it and must be refused.
    for (qsizetype length = 0; length < bill.size(); ++length) {
        const BomReader reader = BomReader::fromData(QByteArray::fromRawData(bill.constData(), length));
        QVERIFY2(!reader.isValid(), qPrintable(QStringLiteral("truncated to %1 bytes").arg(length)));
        QVERIFY(!reader.errorString().isEmpty());
        QVERIFY(reader.paths().isEmpty());
    }

    // Every byte of the header, the variables and the tree nodes, then every
    // stride-th byte of the rest, set to values that stress counts and
    // offsets. Each result is an error or a listing that keeps its promises.
    QList<qsizetype> structural;
    {
        Bill b{bill};
        for (qsizetype i = 0; i < 512 && i < bill.size(); ++i)
            structural.append(i);
        for (qsizetype i = b.u32(24); i < qsizetype(b.u32(24) + b.u32(28)); ++i)
            structural.append(i);
        for (quint32 leaf : b.leaves()) {
            for (quint32 i = 0; i < 64; ++i)
                structural.append(b.offset(leaf) + i);
        }
        for (quint32 i = 0; i < 64 && b.offset(b.top()) + i < quint32(bill.size()); ++i)
            structural.append(b.offset(b.top()) + i);
        for (qsizetype i = b.u32(16); i < b.u32(16) + 64; ++i)
            structural.append(i);
    }
    QList<qsizetype> offsets = structural;
    for (qsizetype i = 0; i < bill.size(); i += stride)
        offsets.append(i);

    const char values[] = {'\x00', '\x01', '\x7f', '\x80', '\xff'};
    int valid = 0;
    int invalid = 0;
    QByteArray damaged = bill;
    for (qsizetype at : offsets) {
        for (char value : values) {
            if (bill[at] == value)
                continue;
            damaged[at] = value;
            const BomReader reader = BomReader::fromData(damaged);
            if (reader.isValid()) {
                ++valid;
                checkListing(reader, damaged.size(),
                             QStringLiteral("byte %1 set to %2").arg(at).arg(quint8(value)).toUtf8());
                if (QTest::currentTestFailed())
                    return;
            } else {
                ++invalid;
                QVERIFY(!reader.errorString().isEmpty());
                QVERIFY(reader.paths().isEmpty());
                QVERIFY(reader.entries().isEmpty());
            }
        }
        damaged[at] = bill[at];
    }
    // Both outcomes occur: damage to unused bytes is harmless, damage to
    // offsets and counts is caught.
    QVERIFY(valid > 0);
    QVERIFY(invalid > 0);
}

enum Crafted {
    ParentCycle,
    SelfParent,
    MissingParent,
    SharedId,
    IdZero,
    LeafCycle,
    LeafLinksItself,
    ForwardToIndex,
    IndexLoop,
    LeafCountTooLarge,
    IndexCountTooLarge,
    SlotCountTooLarge,
    TablePastEnd,
    VariablesPastEnd,
    VariableCountTooLarge,
    VariableNamePastTable,
    BlockPastEnd,
    BlockLengthHuge,
    BlockBeyondTable,
    NullBlock,
    NoPaths,
    NotATree,
    LinkTargetPastRecord,
    RecordTooShort,
    RecordCutAfterFlags,
    NameWithoutNul,
    NameWithSlash,
    NameDotDot,
    NameDotBelowTop,
    PathTooLong,
    BadMagic,
    BadVersion,
    Empty,
};

void TestBomHostile::crafted_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("extraFiles");
    QTest::addColumn<QString>("keyword");   // expected in the error
    QTest::newRow("parent ids form a cycle") << int(ParentCycle) << 0 << "cannot be reached";
    QTest::newRow("entry is its own parent") << int(SelfParent) << 0 << "cannot be reached";
    QTest::newRow("parent id names nothing") << int(MissingParent) << 0 << "cannot be reached";
    QTest::newRow("two folders share an id") << int(SharedId) << 0 << "more than one entry";
    QTest::newRow("path id 0") << int(IdZero) << 0 << "path id 0";
    QTest::newRow("leaf links come round") << int(LeafCycle) << 1100 << "cycle";
    QTest::newRow("leaf links to itself") << int(LeafLinksItself) << 1100 << "cycle";
    QTest::newRow("leaf links up to the index") << int(ForwardToIndex) << 1100 << "cycle";
    QTest::newRow("index node points at itself") << int(IndexLoop) << 1100 << "cycle";
    QTest::newRow("leaf count beyond its block") << int(LeafCountTooLarge) << 1100 << "too short";
    QTest::newRow("index count beyond its block") << int(IndexCountTooLarge) << 1100 << "too short";
    QTest::newRow("block table count beyond the file") << int(SlotCountTooLarge) << 0 << "slots";
    QTest::newRow("block table past the end") << int(TablePastEnd) << 0 << "outside the file";
    QTest::newRow("variables past the end") << int(VariablesPastEnd) << 0 << "outside the file";
    QTest::newRow("variable count beyond the table") << int(VariableCountTooLarge) << 0 << "beyond the variables";
    QTest::newRow("variable name past the table") << int(VariableNamePastTable) << 0 << "runs past";
    QTest::newRow("key block past the end") << int(BlockPastEnd) << 0 << "outside the file";
    QTest::newRow("record length huge") << int(BlockLengthHuge) << 0 << "outside the file";
    QTest::newRow("block number beyond the table") << int(BlockBeyondTable) << 0 << "beyond the block table";
    QTest::newRow("null block as a value") << int(NullBlock) << 0 << "null block";
    QTest::newRow("no Paths variable") << int(NoPaths) << 0 << "no Paths";
    QTest::newRow("Paths is not a tree") << int(NotATree) << 0 << "not point at a tree";
    QTest::newRow("link target past its record") << int(LinkTargetPastRecord) << 0 << "too short for its type";
    QTest::newRow("file record without checksum") << int(RecordTooShort) << 0 << "too short for its type";
    QTest::newRow("record cut after its flags") << int(RecordCutAfterFlags) << 0 << "too short for its type";
    QTest::newRow("name without NUL") << int(NameWithoutNul) << 0 << "NUL";
    QTest::newRow("name with a slash") << int(NameWithSlash) << 0 << "slash";
    QTest::newRow("name ..") << int(NameDotDot) << 0 << "\"..\"";
    QTest::newRow("name . below the top") << int(NameDotBelowTop) << 0 << "below the top";
    QTest::newRow("path longer than PATH_MAX") << int(PathTooLong) << 0 << "longer than";
    QTest::newRow("bad magic") << int(BadMagic) << 0 << "magic";
    QTest::newRow("version 2") << int(BadVersion) << 0 << "version";
    QTest::newRow("empty file") << int(Empty) << 0 << "too short";
}

void TestBomHostile::crafted()
{
    QFETCH(int, kind);
    QFETCH(int, extraFiles);
    QFETCH(QString, keyword);
    Bill b{makeBill(extraFiles)};
    const quint32 size = quint32(b.d.size());
    if (extraFiles > 0)
        QVERIFY(b.leaves().size() >= 3);

    switch (Crafted(kind)) {
    case ParentCycle:   // a in b, b in a
        b.setParent("a", b.find("b").id);
        break;
    case SelfParent:
        b.setParent("x", b.find("x").id);
        break;
    case MissingParent:
        b.setParent("y", 99999);
        break;
    case SharedId:
        b.setU32(b.offset(b.find("x").value), b.find("a").id);
        break;
    case IdZero:
        b.setU32(b.offset(b.find("ab").value), 0);
        break;
    case LeafCycle:
        b.setU32(b.offset(b.leaves().last()) + 4, b.leaves().first());
        break;
    case LeafLinksItself:
        b.setU32(b.offset(b.leaves().first()) + 4, b.leaves().first());
        break;
    case ForwardToIndex:
        b.setU32(b.offset(b.leaves()[1]) + 4, b.top());
        break;
    case IndexLoop:
        b.setU32(b.offset(b.top()) + 12, b.top());
        break;
    case LeafCountTooLarge:
        b.setU16(b.offset(b.leaves()[1]) + 2, 0xFFFF);
        break;
    case IndexCountTooLarge:
        b.setU16(b.offset(b.top()) + 2, 0xFFFF);
        break;
    case SlotCountTooLarge:
        b.setU32(b.u32(16), 0xFFFFFFFF);
        break;
    case TablePastEnd:
        b.setU32(16, size + 100);
        break;
    case VariablesPastEnd:
        b.setU32(24, size - 2);
        break;
    case VariableCountTooLarge:
        b.setU32(b.u32(24), 0xFFFFFFFF);
        break;
    case VariableNamePastTable: {
        const quint32 last = b.variableAt("Size64");
        b.d[last + 4] = char(0xFF);
        break;
    }
    case BlockPastEnd:
        b.setU32(b.slot(b.find("c").key), size - 2);
        break;
    case BlockLengthHuge:
        b.setU32(b.slot(b.find("c").record) + 4, 0xFFFFFFF0);
        break;
    case BlockBeyondTable:
        b.setU32(b.offset(b.leaves().first()) + 16, 0x7FFFFFFF);
        break;
    case NullBlock:
        b.setU32(b.offset(b.leaves().first()) + 12, 0);
        break;
    case NoPaths:
        b.d[b.variableAt("Paths") + 9] = 'z';
        break;
    case NotATree:
        b.d[b.offset(b.tree())] = 'T';
        break;
    case LinkTargetPastRecord:
        b.setU32(b.offset(b.find("ln").record) + 27, 0xFFFF);
        break;
    case RecordTooShort:
        b.setU32(b.slot(b.find("c").record) + 4, 25);
        break;
    case RecordCutAfterFlags:   // the flags still announce full metadata
        b.setU32(b.slot(b.find("x").record) + 4, 10);
        break;
    case NameWithoutNul: {
        const quint32 key = b.find("ab").key;
        b.setU32(b.slot(key) + 4, b.length(key) - 1);
        break;
    }
    case NameWithSlash:
        b.d[b.offset(b.find("ab").key) + 5] = '/';
        break;
    case NameDotDot: {
        const quint32 at = b.offset(b.find("ab").key) + 4;
        b.d[at] = '.';
        b.d[at + 1] = '.';
        break;
    }
    case NameDotBelowTop: {
        // "c" lies two folders down.
        const quint32 at = b.offset(b.find("c").key) + 4;
        b.d[at] = '.';
        break;
    }
    case PathTooLong: {
        // Six top-level folders of 200-byte names, then each put inside the
        // one before: a path of 6 * 201 - 1 bytes.
        BomWriter writer;
        for (int i = 0; i < 6; ++i) {
            BomEntry e;
            e.type = BomEntry::Type::Directory;
            e.path = QString(200, QLatin1Char('a' + i));
            QVERIFY(writer.addEntry(e));
        }
        b = Bill{writer.toByteArray()};
        QVERIFY(BomReader::fromData(b.d).isValid());
        for (int i = 1; i < 6; ++i)
            b.setParent(QByteArray(200, char('a' + i)), b.find(QByteArray(200, char('a' + i - 1))).id);
        break;
    }
    case BadMagic:
        b.d[3] = 'X';
        break;
    case BadVersion:
        b.setU32(8, 2);
        break;
    case Empty:
        b.d.clear();
        break;
    }

    const BomReader reader = BomReader::fromData(b.d);
    QVERIFY(!reader.isValid());
    QVERIFY2(reader.errorString().contains(keyword), qPrintable(reader.errorString()));
    QVERIFY(reader.paths().isEmpty());
    QVERIFY(reader.entries().isEmpty());
    QVERIFY(!reader.rootEntry().has_value());
}

void TestBomHostile::keysOutOfOrder()
{
    // A writer that does not sort its keys still gives the bill's order.
    Bill b{makeBill(0)};
    const QStringList expected = BomReader::fromData(b.d).paths();
    const quint32 leaf = b.offset(b.leaves().first());
    const quint32 count = b.u16(leaf + 2);
    QList<quint64> pairs;
    for (quint32 i = 0; i < count; ++i)
        pairs.prepend(qFromBigEndian<quint64>(b.d.constData() + leaf + 12 + 8 * i));
    for (quint32 i = 0; i < count; ++i)
        qToBigEndian<quint64>(pairs[i], b.d.data() + leaf + 12 + 8 * i);
    const BomReader reader = BomReader::fromData(b.d);
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    QCOMPARE(reader.paths(), expected);
    QCOMPARE(expected.size(), 7);
}

void TestBomHostile::pathOnlyRecord()
{
    // Flags 0 mean the record holds the type alone: four bytes are enough,
    // and nothing after them is read.
    Bill b{makeBill(0)};
    const quint32 record = b.find("ab").record;
    b.setU16(b.offset(record) + 2, 0);
    b.setU32(b.slot(record) + 4, 4);
    const BomReader reader = BomReader::fromData(b.d);
    QVERIFY2(reader.isValid(), qPrintable(reader.errorString()));
    const QList<BomEntry> entries = reader.entries();
    const auto it = std::find_if(entries.begin(), entries.end(), [](const BomEntry &e) { return e.path == "ab"; });
    QVERIFY(it != entries.end());
    QCOMPARE(it->type, BomEntry::Type::File);
    QCOMPARE(it->mode, quint16(0));
    QCOMPARE(it->checksum, 0u);
}

void TestBomHostile::entryCap()
{
    // One leaf of 65,535 pairs that all name the same key: more entries than
    // 16 bytes each in the file allow.
    Bill b{makeBill(0)};
    const quint32 leaf = b.leaves().first();
    const Bill::Key k = b.find("ab");
    QByteArray node(12 + 8 * 65535, '\0');
    qToBigEndian<quint16>(1, node.data());
    qToBigEndian<quint16>(0xFFFF, node.data() + 2);
    for (int i = 0; i < 65535; ++i) {
        qToBigEndian<quint32>(k.value, node.data() + 12 + 8 * i);
        qToBigEndian<quint32>(k.key, node.data() + 16 + 8 * i);
    }
    const quint32 at = quint32(b.d.size());
    b.d.append(node);
    b.setU32(b.slot(leaf), at);
    b.setU32(b.slot(leaf) + 4, quint32(node.size()));
    const BomReader reader = BomReader::fromData(b.d);
    QVERIFY(!reader.isValid());
    QVERIFY2(reader.errorString().contains(QLatin1String("more entries")), qPrintable(reader.errorString()));
}

void TestBomHostile::listingCap()
{
    // A chain of folders with a 999-byte deepest path, then a leaf that names
    // that deepest entry K times (duplicates without children are legal):
    // few bytes of file, a listing of K * 999 bytes.
    BomWriter writer;
    QString path;
    for (int i = 0; i < 5; ++i) {
        path += (i ? QStringLiteral("/") : QString()) + QString(199, QLatin1Char('a' + i));
        BomEntry e;
        e.type = BomEntry::Type::Directory;
        e.path = path;
        QVERIFY(writer.addEntry(e));
    }
    Bill b{writer.toByteArray()};
    const quint32 base = quint32(b.d.size());
    const quint32 copies = base / 8 - 20;   // stays under the entry cap
    QVERIFY(quint64(copies) * 999 > 32 * (quint64(base) + 12 + 8 * (copies + 6)) + 65536);

    const quint32 leaf = b.leaves().first();
    const quint32 leafAt = b.offset(leaf);
    const quint32 own = b.u16(leafAt + 2);
    const Bill::Key deepest = b.find(QByteArray(199, 'e'));
    // Replaces the leaf by one that keeps its own entries and names the
    // deepest entry `count` more times.
    auto withCopies = [&](Bill bill, quint32 count) {
        QByteArray node(12 + 8 * (own + count), '\0');
        qToBigEndian<quint16>(1, node.data());
        qToBigEndian<quint16>(quint16(own + count), node.data() + 2);
        std::memcpy(node.data() + 12, bill.d.constData() + leafAt + 12, 8 * own);
        for (quint32 i = 0; i < count; ++i) {
            qToBigEndian<quint32>(deepest.value, node.data() + 12 + 8 * (own + i));
            qToBigEndian<quint32>(deepest.key, node.data() + 16 + 8 * (own + i));
        }
        const quint32 at = quint32(bill.d.size());
        bill.d.append(node);
        bill.setU32(bill.slot(leaf), at);
        bill.setU32(bill.slot(leaf) + 4, quint32(node.size()));
        return bill.d;
    };
    const BomReader reader = BomReader::fromData(withCopies(b, copies));
    QVERIFY(!reader.isValid());
    QVERIFY2(reader.errorString().contains(QLatin1String("larger than")), qPrintable(reader.errorString()));

    // The same with a handful of copies is a legal, if odd, bill.
    const BomReader fine = BomReader::fromData(withCopies(b, 3));
    QVERIFY2(fine.isValid(), qPrintable(fine.errorString()));
    QCOMPARE(fine.count(), 5 + 3);
}

void TestBomHostile::truncatedFile()
{
    // The same checks apply to a file read from disk.
    const QByteArray bill = makeBill(0);
    QTemporaryDir dir;
    for (qsizetype length : {qsizetype(0), qsizetype(31), qsizetype(512), bill.size() / 2, bill.size() - 1}) {
        const QString path = dir.filePath(QStringLiteral("cut%1.bom").arg(length));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bill.left(length));
        f.close();
        const BomReader reader = BomReader::open(path);
        QVERIFY2(!reader.isValid(), qPrintable(QString::number(length)));
        QVERIFY(!reader.errorString().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestBomHostile)
#include "tst_bom_hostile.moc"
