#include "platform/bom/BomWriter.h"

#include "platform/bom/BomFormat.h"

#include <algorithm>
#include <cstring>

namespace platform {

using namespace bom;

namespace {

constexpr quint32 kRecordTrailer = 8;

// Block numbers of the fixed part of every bill.
enum FixedBlock : quint32 {
    BlockBomInfo = 1,
    BlockPathsTree,
    BlockHLIndexTree,
    BlockHLIndexLeaf,
    BlockVIndex,
    BlockVIndexTree,
    BlockVIndexLeaf,
    BlockSize64Tree,
    BlockSize64Leaf,
    FirstFreeBlock
};

quint8 recordType(BomEntry::Type type)
{
    switch (type) {
    case BomEntry::Type::File: return kRecordFile;
    case BomEntry::Type::Directory: return kRecordDirectory;
    case BomEntry::Type::Link: return kRecordLink;
    case BomEntry::Type::Device: return kRecordDevice;
    case BomEntry::Type::Unknown: break;
    }
    return 0;
}

// A cursor over the preallocated output; every size is computed beforehand.
struct Out
{
    uchar *base;
    quint32 at = 0;

    void u8(quint8 v) { base[at++] = v; }
    void u16(quint16 v) { writeU16(base + at, v); at += 2; }
    void u32(quint32 v) { writeU32(base + at, v); at += 4; }
    void bytes(const void *data, size_t n) { std::memcpy(base + at, data, n); at += quint32(n); }
    void zeros(quint32 n) { at += n; }   // the buffer starts zero-filled
};

} // namespace

// The bill's layout, worked out before a byte is written so the output is
// allocated once, and one member per kind of block it writes.
class BomWriter::Serializer
{
public:
    explicit Serializer(const BomWriter &writer);
    QByteArray run();

private:
    const Node &nodeAt(quint32 position) const
    {
        return m_hasRoot ? (position == 0 ? m_writer.m_root : m_writer.m_nodes[m_sorted[position - 1]])
                         : m_writer.m_nodes[m_sorted[position]];
    }
    quint32 idAt(quint32 position) const
    {
        return m_hasRoot ? (position == 0 ? 1u : m_sorted[position - 1] + 2) : m_sorted[position] + 2;
    }
    quint32 parentIdAt(quint32 position) const
    {
        return (m_hasRoot && position == 0) ? 0u : parentId(nodeAt(position));
    }
    static quint32 parentId(const Node &n) { return n.parent == kTop ? 1u : n.parent + 2; }
    quint32 recordBlock(quint32 position) const { return m_firstEntryBlock + 3 * position; }
    static quint32 recordSize(const Node &n);

    void begin(quint32 block) { writeU32(m_table + 4 + 8 * block, m_out.at); }
    void end(quint32 block) { writeU32(m_table + 8 + 8 * block, m_out.at - readU32(m_table + 4 + 8 * block)); }

    void writeHeaderAndVariables();
    void writeBomInfo();
    void writeTreeHeader(quint32 block, quint32 root, quint32 nodeSize, quint32 count);
    void writeEmptyLeaf(quint32 block, quint32 nodeSize);
    void writeFixedTrees();
    std::vector<quint32> writePathLeaves();
    void writePathIndexes(std::vector<quint32> lastKey);
    void writeEntry(quint32 position);

    static constexpr quint32 kVarsLength = 4 + (5 + 7) + (5 + 5) + (5 + 7) + (5 + 6) + (5 + 6);
    static constexpr quint32 kBomInfoLength = 12 + 16;
    static constexpr quint32 kVIndexLength = 13;

    const BomWriter &m_writer;
    std::vector<quint32> m_sorted;   // node indexes in key order
    bool m_hasRoot;
    quint32 m_entryCount;
    std::vector<quint32> m_levelSizes;   // leaves first, then each index level
    quint32 m_nodeBlocks = 0;
    quint32 m_firstEntryBlock = 0;   // record, key, value per entry
    quint32 m_blockCount = 0;        // slot 0 included
    quint32 m_tableLength = 0;
    quint32 m_tableOffset = 0;
    quint64 m_total = 0;
    quint64 m_fileBytes = 0;
    Out m_out{nullptr};
    uchar *m_table = nullptr;
};

BomWriter::Serializer::Serializer(const BomWriter &writer)
    : m_writer(writer)
{
    const quint32 nodeCount = quint32(writer.m_nodes.size());
    m_hasRoot = writer.m_rootSet || nodeCount > 0;
    m_entryCount = nodeCount + (m_hasRoot ? 1 : 0);

    // Ids follow creation, and a folder is always created before anything in
    // it: "." is 1, node i is i + 2. Keys go in (parent id, name) order, "."
    // first (its parent is 0).
    m_sorted.resize(nodeCount);
    for (quint32 i = 0; i < nodeCount; ++i)
        m_sorted[i] = i;
    std::sort(m_sorted.begin(), m_sorted.end(), [&](quint32 a, quint32 b) {
        const Node &x = writer.m_nodes[a];
        const Node &y = writer.m_nodes[b];
        const quint32 px = parentId(x), py = parentId(y);
        return px != py ? px < py : x.name < y.name;
    });

    // Tree shape: full leaves, then index levels until one node remains.
    m_levelSizes.push_back(std::max<quint32>(1, (m_entryCount + kPairsPerNode - 1) / kPairsPerNode));
    while (m_levelSizes.back() > 1)
        m_levelSizes.push_back((m_levelSizes.back() + kPairsPerNode - 1) / kPairsPerNode);
    for (quint32 n : m_levelSizes)
        m_nodeBlocks += n;
    m_firstEntryBlock = FirstFreeBlock + m_nodeBlocks;
    m_blockCount = m_firstEntryBlock + 3 * m_entryCount;

    m_total = kHeaderSize + kVarsLength + kBomInfoLength + 4 * kTreeHeaderSize + kVIndexLength
        + 2 * kPathsNodeSize + kVIndexNodeSize + quint64(m_nodeBlocks) * kPathsNodeSize;
    for (quint32 i = 0; i < m_entryCount; ++i) {
        const Node &n = nodeAt(i);
        m_total += recordSize(n) + (4 + n.name.size() + 1) + 8;
        if (n.type != BomEntry::Type::Directory)
            m_fileBytes += n.size;
    }
    const quint64 tableBytes = 4 + 8 * quint64(m_blockCount) + 4 + 16;   // slots, an empty free list, padding
    m_total += tableBytes;
    m_tableLength = quint32(tableBytes);
    m_tableOffset = quint32(m_total - tableBytes);
}

quint32 BomWriter::Serializer::recordSize(const Node &n)
{
    quint32 tail = 0;
    switch (n.type) {
    case BomEntry::Type::File:
    case BomEntry::Type::Device: tail = 4; break;
    case BomEntry::Type::Link: tail = 8 + quint32(n.linkTarget.size()) + 1; break;
    case BomEntry::Type::Directory:
    case BomEntry::Type::Unknown: break;
    }
    return kRecordMetadataSize + tail + kRecordTrailer;
}

QByteArray BomWriter::Serializer::run()
{
    if (m_total > 0xFFFFFFFFull)
        return QByteArray();   // beyond 32-bit offsets; no real bill comes near
    QByteArray data(qsizetype(m_total), '\0');
    m_out.base = reinterpret_cast<uchar *>(data.data());
    m_table = m_out.base + m_tableOffset;
    writeU32(m_table, m_blockCount);
    writeHeaderAndVariables();
    writeBomInfo();
    writeFixedTrees();
    writePathIndexes(writePathLeaves());
    for (quint32 position = 0; position < m_entryCount; ++position)
        writeEntry(position);
    Q_ASSERT(m_out.at == m_tableOffset);
    return data;
}

void BomWriter::Serializer::writeHeaderAndVariables()
{
    m_out.bytes(kMagic, sizeof kMagic);
    m_out.u32(1);
    m_out.u32(m_blockCount - 1);
    m_out.u32(m_tableOffset);
    m_out.u32(m_tableLength);
    m_out.u32(kHeaderSize);   // the variables follow the header
    m_out.u32(kVarsLength);
    m_out.at = kHeaderSize;

    m_out.u32(5);
    const std::pair<quint32, std::string_view> variables[] = {
        {BlockBomInfo, "BomInfo"}, {BlockPathsTree, "Paths"}, {BlockHLIndexTree, "HLIndex"},
        {BlockVIndex, "VIndex"}, {BlockSize64Tree, "Size64"}};
    for (const auto &[block, name] : variables) {
        m_out.u32(block);
        m_out.u8(quint8(name.size()));
        m_out.bytes(name.data(), name.size());
    }
}

// One statistics entry for "not Mach-O" with the bytes of everything that
// is not a folder.
void BomWriter::Serializer::writeBomInfo()
{
    begin(BlockBomInfo);
    m_out.u32(1);
    m_out.u32(m_entryCount + 1);
    m_out.u32(1);
    m_out.u32(0);
    m_out.u32(0);
    m_out.u32(quint32(m_fileBytes));
    m_out.u32(0);
    end(BlockBomInfo);
}

void BomWriter::Serializer::writeTreeHeader(quint32 block, quint32 root, quint32 nodeSize, quint32 count)
{
    begin(block);
    m_out.bytes("tree", 4);
    m_out.u32(1);
    m_out.u32(root);
    m_out.u32(nodeSize);
    m_out.u32(count);
    m_out.u8(0);
    end(block);
}

void BomWriter::Serializer::writeEmptyLeaf(quint32 block, quint32 nodeSize)
{
    begin(block);
    m_out.u16(1);
    m_out.zeros(nodeSize - 2);
    end(block);
}

// The Paths tree's header and the three trees that stay empty.
void BomWriter::Serializer::writeFixedTrees()
{
    const quint32 pathsRoot = FirstFreeBlock + m_nodeBlocks - 1;   // the last node made is the top one
    writeTreeHeader(BlockPathsTree, pathsRoot, kPathsNodeSize, m_entryCount);
    writeTreeHeader(BlockHLIndexTree, BlockHLIndexLeaf, kPathsNodeSize, 0);
    writeEmptyLeaf(BlockHLIndexLeaf, kPathsNodeSize);
    begin(BlockVIndex);
    m_out.u32(1);
    m_out.u32(BlockVIndexTree);
    m_out.u32(0);
    m_out.u8(0);
    end(BlockVIndex);
    writeTreeHeader(BlockVIndexTree, BlockVIndexLeaf, kVIndexNodeSize, 0);
    writeEmptyLeaf(BlockVIndexLeaf, kVIndexNodeSize);
    writeTreeHeader(BlockSize64Tree, BlockSize64Leaf, kPathsNodeSize, 0);
    writeEmptyLeaf(BlockSize64Leaf, kPathsNodeSize);
}

// Leaves, linked both ways. Answers, per leaf, the key block of its last
// entry, which the level above records.
std::vector<quint32> BomWriter::Serializer::writePathLeaves()
{
    const quint32 leafCount = m_levelSizes.front();
    std::vector<quint32> lastKey(leafCount);
    for (quint32 leaf = 0; leaf < leafCount; ++leaf) {
        const quint32 block = FirstFreeBlock + leaf;
        const quint32 from = leaf * kPairsPerNode;
        const quint32 to = std::min(m_entryCount, from + kPairsPerNode);
        begin(block);
        const quint32 start = m_out.at;
        m_out.u16(1);
        m_out.u16(quint16(to - from));
        m_out.u32(leaf + 1 < leafCount ? block + 1 : 0);
        m_out.u32(leaf > 0 ? block - 1 : 0);
        for (quint32 position = from; position < to; ++position) {
            m_out.u32(recordBlock(position) + 2);   // value
            m_out.u32(recordBlock(position) + 1);   // key
        }
        lastKey[leaf] = to > from ? recordBlock(to - 1) + 1 : 0;
        m_out.at = start + kPathsNodeSize;
        end(block);
    }
    return lastKey;
}

// Index levels in Apple's style: count = children - 1, one pair per child
// {child, key of its last entry}, the last key 0. Children are spread evenly
// so that no index node is left with a single child.
void BomWriter::Serializer::writePathIndexes(std::vector<quint32> lastKey)
{
    quint32 levelFirst = FirstFreeBlock;
    quint32 nextBlock = FirstFreeBlock + m_levelSizes.front();
    for (size_t level = 1; level < m_levelSizes.size(); ++level) {
        const quint32 children = m_levelSizes[level - 1];
        const quint32 nodes = m_levelSizes[level];
        std::vector<quint32> upperLastKey(nodes);
        quint32 child = 0;
        for (quint32 i = 0; i < nodes; ++i) {
            const quint32 block = nextBlock + i;
            const quint32 take = children / nodes + (i < children % nodes ? 1 : 0);
            begin(block);
            const quint32 start = m_out.at;
            m_out.u16(0);
            m_out.u16(quint16(take - 1));
            m_out.u32(i + 1 < nodes ? block + 1 : 0);
            m_out.u32(i > 0 ? block - 1 : 0);
            for (quint32 k = 0; k < take; ++k, ++child) {
                m_out.u32(levelFirst + child);
                m_out.u32(k + 1 < take ? lastKey[child] : 0);
            }
            upperLastKey[i] = lastKey[child - 1];
            m_out.at = start + kPathsNodeSize;
            end(block);
        }
        lastKey = std::move(upperLastKey);
        levelFirst = nextBlock;
        nextBlock += nodes;
    }
}

// An entry's record, its key and its value, in three blocks.
void BomWriter::Serializer::writeEntry(quint32 position)
{
    const Node &n = nodeAt(position);
    const quint32 block = recordBlock(position);
    begin(block);
    m_out.u8(recordType(n.type));
    m_out.u8(1);
    m_out.u16(kFlagsFullMetadata);
    m_out.u16(n.mode);
    m_out.u32(n.uid);
    m_out.u32(n.gid);
    m_out.u32(n.mtime);
    m_out.u32(n.size);
    m_out.u8(1);
    switch (n.type) {
    case BomEntry::Type::File: m_out.u32(n.checksum); break;
    case BomEntry::Type::Device: m_out.u32(n.device); break;
    case BomEntry::Type::Link:
        m_out.u32(n.checksum);
        m_out.u32(quint32(n.linkTarget.size()) + 1);
        m_out.bytes(n.linkTarget.constData(), size_t(n.linkTarget.size()));
        m_out.u8(0);
        break;
    case BomEntry::Type::Directory:
    case BomEntry::Type::Unknown: break;
    }
    m_out.zeros(kRecordTrailer);
    end(block);

    begin(block + 1);
    m_out.u32(parentIdAt(position));
    m_out.bytes(n.name.data(), n.name.size());
    m_out.u8(0);
    end(block + 1);

    begin(block + 2);
    m_out.u32(idAt(position));
    m_out.u32(block);
    end(block + 2);
}

QByteArray BomWriter::toByteArray() const
{
    return Serializer(*this).run();
}

} // namespace platform
