#include "platform/bom/BomReader.h"

#include "platform/Memory.h"
#include "platform/ReadLimits.h"

#include "platform/bom/BomFormat.h"
#include "platform/bom/BomRecord.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace platform {

using namespace bom;

namespace {

constexpr qint64 kMaxFileSize = ReadLimit::kBill;
constexpr quint64 kPathBytesPerFileByte = 32;
constexpr quint64 kPathBytesSlack = 64 * 1024;
constexpr quint32 kBytesPerEntry = 16;
constexpr quint32 kNone = 0xFFFFFFFFu;

struct Block
{
    quint32 offset = 0;
    quint32 length = 0;
};

int compareBytes(const uchar *a, quint32 aLength, const uchar *b, quint32 bLength)
{
    const int c = std::memcmp(a, b, std::min(aLength, bLength));
    if (c != 0)
        return c;
    return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}

} // namespace

// Walks the file once, filling m_entries and m_order. Every read goes through
// block() or an explicit range check against the file's size.
class BomReader::Parser
{
public:
    explicit Parser(BomReader &reader)
        : r(reader)
        , p(reinterpret_cast<const uchar *>(reader.m_data.constData()))
        , size(quint32(reader.m_data.size()))
    {
    }

    bool run()
    {
        // What the listing needs before anything can be walked: a fault
        // here means the bill cannot even be opened.
        if (!readHeader() || !readVariables()) {
            r.m_openFailed = true;
            return false;
        }
        return readPaths() && sortKeys() && buildListing();
    }

private:
    bool fail(const QString &error)
    {
        r.fail(error);
        return false;
    }

    bool inFile(quint32 offset, quint32 length) const
    {
        return quint64(offset) + length <= size;
    }

    bool block(quint32 index, Block *out)
    {
        if (index == 0)
            return fail(QStringLiteral("a reference to the null block 0"));
        if (index >= slotCount)
            return fail(QStringLiteral("block %1 is beyond the block table (%2 slots)").arg(index).arg(slotCount));
        const uchar *slot = p + tableOffset + 4 + quint64(index) * 8;
        out->offset = readU32(slot);
        out->length = readU32(slot + 4);
        if (!inFile(out->offset, out->length))
            return fail(QStringLiteral("block %1 (offset %2, length %3) lies outside the file of %4 bytes")
                            .arg(index).arg(out->offset).arg(out->length).arg(size));
        return true;
    }

    bool readHeader()
    {
        if (size < kHeaderUsed)
            return fail(QStringLiteral("the file is too short for a header (%1 bytes)").arg(size));
        if (std::memcmp(p, kMagic, sizeof kMagic) != 0)
            return fail(QStringLiteral("not a bill of materials (no BOMStore magic)"));
        const quint32 version = readU32(p + 8);
        if (version != 1)
            return fail(QStringLiteral("unsupported version %1").arg(version));
        tableOffset = readU32(p + 16);
        const quint32 tableLength = readU32(p + 20);
        varsOffset = readU32(p + 24);
        varsLength = readU32(p + 28);
        if (!inFile(tableOffset, tableLength) || tableLength < 4)
            return fail(QStringLiteral("the block table (offset %1, length %2) lies outside the file")
                            .arg(tableOffset).arg(tableLength));
        slotCount = readU32(p + tableOffset);
        if (4 + quint64(slotCount) * 8 > tableLength)
            return fail(QStringLiteral("the block table claims %1 slots but has room for %2")
                            .arg(slotCount).arg((tableLength - 4) / 8));
        if (!inFile(varsOffset, varsLength) || varsLength < 4)
            return fail(QStringLiteral("the variables table (offset %1, length %2) lies outside the file")
                            .arg(varsOffset).arg(varsLength));
        return true;
    }

    bool readVariables()
    {
        const quint32 count = readU32(p + varsOffset);
        quint64 at = quint64(varsOffset) + 4;
        const quint64 end = quint64(varsOffset) + varsLength;
        for (quint32 i = 0; i < count; ++i) {
            if (at + 5 > end)
                return fail(QStringLiteral("variable %1 of %2 lies beyond the variables table").arg(i).arg(count));
            const quint32 blockIndex = readU32(p + at);
            quint32 nameLength = p[at + 4];
            if (at + 5 + nameLength > end)
                return fail(QStringLiteral("the name of variable %1 runs past the variables table").arg(i));
            const uchar *name = p + at + 5;
            at += 5 + nameLength;
            if (nameLength > 0 && name[nameLength - 1] == 0)
                --nameLength;   // some writers count a terminating NUL
            if (!havePaths && nameLength == 5 && std::memcmp(name, "Paths", 5) == 0) {
                pathsBlock = blockIndex;
                havePaths = true;
            }
        }
        if (!havePaths)
            return fail(QStringLiteral("the bill has no Paths variable"));
        return true;
    }

    bool readPaths()
    {
        Block tree;
        if (!block(pathsBlock, &tree))
            return false;
        if (tree.length < kTreeHeaderSize || std::memcmp(p + tree.offset, "tree", 4) != 0)
            return fail(QStringLiteral("the Paths variable does not point at a tree"));
        if (readU32(p + tree.offset + 4) != 1)
            return fail(QStringLiteral("unsupported tree version %1").arg(readU32(p + tree.offset + 4)));

        // One flag per block slot: a node seen twice means the links loop.
        visited.assign(slotCount, false);
        maxEntries = size / kBytesPerEntry;
        // The header's entry count is only a hint; capped, it saves regrowing.
        r.m_entries.reserve(size_t(std::min<quint64>(readU32(p + tree.offset + 16), maxEntries)));

        // Down the first pair of every index node to the leftmost leaf.
        quint32 node = readU32(p + tree.offset + 8);
        Block b;
        for (;;) {
            if (!block(node, &b))
                return false;
            if (visited[node])
                return fail(QStringLiteral("the index nodes of the Paths tree form a cycle at block %1").arg(node));
            visited[node] = true;
            if (b.length < kNodeHeaderSize)
                return fail(QStringLiteral("tree node %1 is too short").arg(node));
            const quint16 isLeaf = readU16(p + b.offset);
            const quint16 count = readU16(p + b.offset + 2);
            if (isLeaf == 1)
                break;
            if (isLeaf != 0)
                return fail(QStringLiteral("tree node %1 is neither a leaf nor an index node").arg(node));
            if (b.length < kNodeHeaderSize + 8 || kNodeHeaderSize + quint64(count) * 8 > b.length)
                return fail(QStringLiteral("index node %1 is too short for its %2 entries").arg(node).arg(count));
            node = readU32(p + b.offset + kNodeHeaderSize);
        }

        // Along the forward links, leaf by leaf.
        for (;;) {
            const quint16 isLeaf = readU16(p + b.offset);
            const quint16 count = readU16(p + b.offset + 2);
            if (isLeaf != 1)
                return fail(QStringLiteral("the leaf links of the Paths tree reach a non-leaf block %1").arg(node));
            if (kNodeHeaderSize + quint64(count) * 8 > b.length)
                return fail(QStringLiteral("leaf %1 is too short for its %2 entries").arg(node).arg(count));
            if (r.m_entries.size() + count > maxEntries)
                return fail(QStringLiteral("the Paths tree holds more entries than a file of %1 bytes can").arg(size));
            const uchar *pair = p + b.offset + kNodeHeaderSize;
            for (quint32 i = 0; i < count; ++i, pair += 8) {
                if (!readKey(readU32(pair), readU32(pair + 4)))
                    return false;
            }
            node = readU32(p + b.offset + 4);
            if (node == 0)
                return true;
            if (!block(node, &b))
                return false;
            if (visited[node])
                return fail(QStringLiteral("the leaf links of the Paths tree form a cycle at block %1").arg(node));
            visited[node] = true;
            if (b.length < kNodeHeaderSize)
                return fail(QStringLiteral("tree node %1 is too short").arg(node));
        }
    }

    bool readKey(quint32 valueBlock, quint32 keyBlock)
    {
        Block value, key, record;
        if (!block(valueBlock, &value) || !block(keyBlock, &key))
            return false;
        if (value.length < 8)
            return fail(QStringLiteral("value block %1 is too short").arg(valueBlock));
        if (key.length < 6)
            return fail(QStringLiteral("key block %1 is too short").arg(keyBlock));
        const uchar *name = p + key.offset + 4;
        const void *nul = std::memchr(name, 0, key.length - 4);
        if (!nul)
            return fail(QStringLiteral("the name in key block %1 has no terminating NUL").arg(keyBlock));
        const quint32 nameLength = quint32(static_cast<const uchar *>(nul) - name);
        const quint32 recordBlock = readU32(p + value.offset + 4);
        if (!block(recordBlock, &record))
            return false;
        if (!readRecord(p + record.offset, record.length, nullptr))
            return fail(QStringLiteral("path record %1 is too short for its type").arg(recordBlock));
        const Entry e{readU32(p + value.offset), readU32(p + key.offset), key.offset + 4, nameLength,
                      record.offset, record.length};
        // Checked here, while the name is in the cache: a large bill is read
        // once instead of once per check.
        if (!checkName(e))
            return false;
        if (!r.m_entries.empty() && lessKey(e, r.m_entries.back()))
            unsorted = true;
        r.m_entries.push_back(e);
        return true;
    }

    bool checkName(const Entry &e)
    {
        const uchar *name = p + e.nameOffset;
        if (e.nameLength == 0)
            return fail(QStringLiteral("an entry with an empty name (path id %1)").arg(e.id));
        if (std::memchr(name, '/', e.nameLength))
            return fail(QStringLiteral("the name of path id %1 contains a slash").arg(e.id));
        if (e.nameLength == 2 && name[0] == '.' && name[1] == '.')
            return fail(QStringLiteral("an entry named \"..\" (path id %1)").arg(e.id));
        if (e.nameLength == 1 && name[0] == '.' && e.parent != 0)
            return fail(QStringLiteral("an entry named \".\" below the top (path id %1)").arg(e.id));
        if (e.id == 0)
            return fail(QStringLiteral("an entry with path id 0"));
        return true;
    }

    bool lessKey(const Entry &a, const Entry &b) const
    {
        if (a.parent != b.parent)
            return a.parent < b.parent;
        return compareBytes(p + a.nameOffset, a.nameLength, p + b.nameOffset, b.nameLength) < 0;
    }

    // Writers keep keys sorted by parent id, then name; sort only when a file
    // does not, keeping equal keys in the file's order.
    bool sortKeys()
    {
        if (unsorted)
            std::stable_sort(r.m_entries.begin(), r.m_entries.end(),
                             [this](const Entry &a, const Entry &b) { return lessKey(a, b); });
        return true;
    }

    // The children of one parent id are one run of the sorted keys.
    struct Group
    {
        quint32 parent;
        quint32 begin;
        quint32 end;
        bool expanded;
    };

    void buildGroups()
    {
        const auto &entries = r.m_entries;
        for (quint32 i = 0; i < entries.size();) {
            quint32 j = i + 1;
            while (j < entries.size() && entries[j].parent == entries[i].parent)
                ++j;
            groups.push_back({entries[i].parent, i, j, false});
            i = j;
        }
        // Ids are usually 1..N: index groups directly by parent id then.
        if (!groups.empty() && groups.back().parent <= 2 * quint64(entries.size()) + 64) {
            groupOfParent.assign(groups.back().parent + 1, kNone);
            for (quint32 g = 0; g < groups.size(); ++g)
                groupOfParent[groups[g].parent] = g;
        }
    }

    quint32 groupOf(quint32 parent) const
    {
        if (!groupOfParent.empty())
            return parent < groupOfParent.size() ? groupOfParent[parent] : kNone;
        auto it = std::lower_bound(groups.begin(), groups.end(), parent,
                                   [](const Group &g, quint32 id) { return g.parent < id; });
        return (it != groups.end() && it->parent == parent) ? quint32(it - groups.begin()) : kNone;
    }

    // Depth first from the entries whose parent is 0. Each group of children
    // is entered at most once, so parent-id cycles are never entered at all
    // and show up as unreachable entries.
    bool buildListing()
    {
        auto &entries = r.m_entries;
        if (entries.empty())
            return true;
        buildGroups();
        const quint64 maxPathBytes = kPathBytesPerFileByte * size + kPathBytesSlack;
        quint64 pathBytes = 0;
        quint64 reached = 0;

        struct Frame
        {
            quint32 next;
            quint32 end;
            quint32 depth;
        };
        std::vector<Frame> stack;
        std::vector<quint32> prefix{0};   // bytes of the parent path plus "/" at each depth
        r.m_order.reserve(entries.size());

        auto enter = [&](quint32 id, quint32 depth) -> bool {
            const quint32 g = groupOf(id);
            if (g == kNone)
                return true;
            if (groups[g].expanded)
                return fail(QStringLiteral("path id %1 is used by more than one entry").arg(id));
            groups[g].expanded = true;
            stack.push_back({groups[g].begin, groups[g].end, depth});
            return true;
        };

        if (!enter(0, 0))
            return false;
        while (!stack.empty()) {
            Frame &top = stack.back();
            if (top.next == top.end) {
                stack.pop_back();
                continue;
            }
            const quint32 index = top.next++;
            const quint32 depth = top.depth;
            const Entry &e = entries[index];
            ++reached;
            if (e.parent == 0 && e.nameLength == 1 && p[e.nameOffset] == '.') {
                if (r.m_root < 0)
                    r.m_root = index;
                if (!enter(e.id, depth))   // the root's children sit at the top
                    return false;
                continue;
            }
            const quint64 pathLength = quint64(prefix[depth]) + e.nameLength;
            if (pathLength > kMaxPathBytes)
                return fail(QStringLiteral("a path longer than %1 bytes (path id %2)").arg(kMaxPathBytes).arg(e.id));
            pathBytes += pathLength;
            if (pathBytes > maxPathBytes)
                return fail(QStringLiteral("the listing would be larger than a file of %1 bytes can describe").arg(size));
            r.m_order.push_back({index, depth});
            r.m_maxDepth = std::max(r.m_maxDepth, depth);
            if (prefix.size() < depth + 2)
                prefix.resize(depth + 2);
            prefix[depth + 1] = quint32(pathLength) + 1;
            if (!enter(e.id, depth + 1))
                return false;
        }
        r.m_pathBytes = pathBytes;
        if (reached != entries.size())
            return fail(QStringLiteral("%1 of %2 entries cannot be reached from the root: a parent id is missing "
                                       "or the parent ids form a cycle")
                            .arg(entries.size() - reached).arg(entries.size()));
        return true;
    }

    BomReader &r;
    const uchar *p;
    quint32 size;
    quint32 tableOffset = 0;
    quint32 slotCount = 0;
    quint32 varsOffset = 0;
    quint32 varsLength = 0;
    quint32 pathsBlock = 0;
    bool havePaths = false;
    bool unsorted = false;   // a key came before the one read last
    quint64 maxEntries = 0;
    std::vector<bool> visited;
    std::vector<Group> groups;
    std::vector<quint32> groupOfParent;
};

BomReader::BomReader()
    : m_error(QStringLiteral("no bill of materials has been read"))
    , m_openFailed(true)
{
}

BomReader::BomReader(const QByteArray &data)
    : m_data(data)
{
    Parser parser(*this);
    parser.run();
}

BomReader BomReader::open(const QString &physicalPath)
{
    QFile file(physicalPath);
    if (!file.open(QIODevice::ReadOnly)) {
        BomReader reader;
        reader.fail(QStringLiteral("cannot open %1: %2").arg(physicalPath, file.errorString()));
        return reader;
    }
    if (file.size() > kMaxFileSize) {
        BomReader reader;
        reader.fail(QStringLiteral("%1 is too large for a bill of materials (%2 bytes)").arg(physicalPath).arg(file.size()));
        return reader;
    }
    // One read of the size the file has, as the volume reads it: readAll()
    // would grow its buffer once more past the end, copying the whole bill.
    QByteArray data = fileBuffer(file.size());
    data.resize(file.size());
    if (file.read(data.data(), data.size()) != data.size()) {
        BomReader reader;
        reader.fail(QStringLiteral("cannot read %1: %2").arg(physicalPath, file.errorString()));
        return reader;
    }
    return BomReader(data);
}

BomReader BomReader::fromData(const QByteArray &data)
{
    if (data.size() > kMaxFileSize) {
        BomReader reader;
        reader.fail(QStringLiteral("the data is too large for a bill of materials (%1 bytes)").arg(data.size()));
        return reader;
    }
    return BomReader(data);
}

void BomReader::fail(const QString &error)
{
    m_error = error;
    // Nothing of a refused bill is kept.
    m_data = QByteArray();
    m_entries = {};
    m_order = {};
    m_root = -1;
    m_maxDepth = 0;
    m_pathBytes = 0;
}

QStringList BomReader::paths() const
{
    QStringList result;
    result.reserve(qsizetype(m_order.size()));
    forEachPath([&](QByteArrayView path) { result.append(QString::fromUtf8(path)); });
    return result;
}

QList<BomEntry> BomReader::entries() const
{
    QList<BomEntry> result;
    result.reserve(qsizetype(m_order.size()));
    const QStringList names = paths();
    for (qsizetype i = 0; i < names.size(); ++i)
        result.append(entryAt(m_entries[m_order[size_t(i)].entry], names[i]));
    return result;
}

std::optional<BomEntry> BomReader::rootEntry() const
{
    if (m_root < 0)
        return std::nullopt;
    return entryAt(m_entries[size_t(m_root)], QString());
}

BomEntry BomReader::entryAt(const Entry &entry, QString path) const
{
    BomEntry result;
    result.path = std::move(path);
    // Checked when the bill was read, so this cannot fail.
    readRecord(reinterpret_cast<const uchar *>(m_data.constData()) + entry.recordOffset, entry.recordLength, &result);
    return result;
}

} // namespace platform
