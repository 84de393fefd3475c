#pragma once

#include "platform/bom/BomEntry.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

// Writes a bill of materials the way the macOS tools lay it out: a 512-byte
// header, the five variables (BomInfo, Paths, HLIndex, VIndex, Size64), the
// Paths tree in full 4096-byte nodes of at most 510 entries, leaves linked
// both ways, index nodes above them when there is more than one leaf, records
// with full metadata and the 8-byte zero trailer, and the block table with an
// empty free list at the end. The root "." gets id 1 and every folder a lower
// id than anything inside it.
//
// Entries may be added in any order. A missing parent folder is added
// implicitly (mode 040755, owner 0:0, mtime 0) and takes the caller's
// metadata when the caller adds it later; adding a path again replaces its
// metadata. With no entry added at all the bill is empty, without even ".".
//
// What the writer fills in itself: the type bits of `mode` when the caller
// left them out (devices excepted); a link's size (its target's length) and
// checksum (the cksum of its target). Sizes of 4 GiB or more keep their low
// 32 bits: the Size64 tree stays empty.
class BomWriter
{
public:
    BomWriter();
    ~BomWriter();
    BomWriter(BomWriter &&) noexcept;
    BomWriter &operator=(BomWriter &&) noexcept;

    // Adds the entry at entry.path: relative, "/"-separated, without empty,
    // "." or ".." components, at most 1023 bytes in UTF-8 (a leading "./" is
    // dropped). An empty path or "." sets the metadata of the root ".".
    // False, with *error set, for such a path, for a type of Unknown, for a
    // path below an entry that is not a folder, and for turning a folder that
    // already has entries below it into something else.
    bool addEntry(const BomEntry &entry, QString *error = nullptr);

    // The entries added so far, implicit folders included, "." excluded.
    qsizetype count() const { return qsizetype(m_nodes.size()); }

    QByteArray toByteArray() const;

    // Writes the bill to a physical path, replacing what is there.
    bool write(const QString &physicalPath, QString *error = nullptr) const;

private:
    static constexpr quint32 kTop = 0xFFFFFFFFu;
    static constexpr quint32 kFailed = 0xFFFFFFFEu;

    struct Node
    {
        std::string_view name;   // into m_arena
        quint32 parent = kTop;   // node index, or kTop for the children of "."
        BomEntry::Type type = BomEntry::Type::Directory;
        quint16 mode = 040755;
        quint32 uid = 0;
        quint32 gid = 0;
        quint32 mtime = 0;
        quint32 size = 0;
        quint32 checksum = 0;
        quint32 device = 0;
        QByteArray linkTarget;
        bool hasChildren = false;
    };

    // Lays the bill out and writes it block by block; defined with the writer.
    class Serializer;

    std::string_view store(std::string_view bytes);
    quint32 parentOf(std::string_view path, QString *error);
    static bool assign(Node &node, const BomEntry &entry, QString *error);

    std::vector<Node> m_nodes;
    Node m_root;   // ".", named by the constructor; its key always has parent 0
    bool m_rootSet = false;
    // Full paths of the nodes, UTF-8, in chunks that never move so that the
    // map's keys and the names stay valid.
    std::vector<std::unique_ptr<char[]>> m_arena;
    size_t m_arenaUsed = 0;
    size_t m_arenaSize = 0;
    std::unordered_map<std::string_view, quint32> m_index;
};

} // namespace platform
