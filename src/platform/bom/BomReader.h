#pragma once

#include "platform/Memory.h"
#include "platform/bom/BomEntry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstring>
#include <optional>
#include <vector>

namespace platform {

// Reads a bill of materials (.bom) and lists its paths in the bill's order:
// depth first, a folder before its contents, the children of one folder in
// ascending bytewise order of their names. Paths are relative to the install
// folder ("Applications/Foo.app"), the root "." itself is not listed.
//
// The whole file is read and checked when the reader is made; afterwards the
// listing cannot fail. A bill is all or nothing: any of the faults below
// makes isValid() false, errorString() says what was wrong, and paths() and
// entries() are empty. Nothing in the file is trusted: a corrupt, truncated
// or crafted bill never crashes, reads out of bounds, loops or makes memory
// grow beyond a small multiple of the file size.
//
// Error cases:
// - the file cannot be read, or is larger than 1 GiB (no real bill comes
//   near; offsets in a bill are 32-bit anyway);
// - the header is short, has the wrong magic or a version other than 1;
// - the block table, the variables table or any block they name lies
//   (partly) outside the file, or a block number is 0 or beyond the table;
// - there is no "Paths" variable, or it is not a tree;
// - a tree node is too short for its count, is neither a leaf nor an index
//   node, or the nodes form a cycle (index nodes pointing back up, or leaf
//   "forward" links that come round again);
// - more entries than the file can hold (one per 16 bytes: each needs at
//   least a leaf pair and a value block of 8 bytes);
// - a key without a terminating NUL, a name that is empty, contains "/", is
//   "..", or is "." anywhere but at the top;
// - a path record too short for the fields its type and flags announce;
// - a path id of 0, a path id shared by two entries that both have children,
//   an entry whose parent id names no entry, or parent ids forming a cycle
//   (every entry must be reachable from the top);
// - a path longer than 1023 bytes (the Mac's PATH_MAX), or a listing that
//   would hold more than 32 bytes of path per byte of file (a crafted bill
//   that reuses its blocks must not blow up memory; real bills stay far
//   below).
//
// Lenient on purpose, because real writers differ: offsets are read, never
// assumed; keys out of order are sorted; the free list, "BomInfo", the
// tree's entry count, index-node separator keys and bytes left over after a
// record are ignored; two entries with the same name in one folder are both
// listed; a top-level entry other than "." is listed under its own name.
//
// Names are raw bytes in the file and decoded as UTF-8 for the listing; the
// order is that of the raw bytes.
class BomReader
{
public:
    BomReader();   // an invalid reader that has read nothing

    static BomReader open(const QString &physicalPath);   // for tools and tests; the program reads through the volume
    static BomReader fromData(const QByteArray &data);

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    // Whether the fault lies in what opening a bill needs (the file itself,
    // the header, the block table, the variables) rather than in the tree.
    bool failedToOpen() const { return m_openFailed; }

    // The number of listed entries (the root "." not counted).
    qsizetype count() const { return qsizetype(m_order.size()); }
    // The bytes of all listed paths together, without separators' NULs.
    quint64 pathBytes() const { return m_pathBytes; }

    // Only the relative paths, in the bill's order.
    QStringList paths() const;

    // The cheapest listing: calls visit(QByteArrayView) with each relative
    // path's raw bytes, in the bill's order, without making any string. The
    // view lasts for the call only.
    template<typename Visit>
    void forEachPath(Visit &&visit) const;

    // Every listed entry with its metadata, in the bill's order.
    QList<BomEntry> entries() const;

    // The root "." with its metadata and an empty path, if the bill has one
    // (an empty bill has none).
    std::optional<BomEntry> rootEntry() const;

    static constexpr quint32 kMaxPathBytes = 1023;   // PATH_MAX on the Mac is 1024 with the NUL

private:
    // One key of the Paths tree; names and records stay in m_data.
    struct Entry
    {
        quint32 id;
        quint32 parent;
        quint32 nameOffset;
        quint32 nameLength;
        quint32 recordOffset;
        quint32 recordLength;
    };
    struct Listed
    {
        quint32 entry;   // index into m_entries
        quint32 depth;   // 0 for the children of "."
    };
    class Parser;

    explicit BomReader(const QByteArray &data);
    void fail(const QString &error);
    BomEntry entryAt(const Entry &entry, QString path) const;

    QByteArray m_data;
    QString m_error;
    std::vector<Entry, LargeBlockAllocator<Entry>> m_entries;   // sorted by parent id, then name
    std::vector<Listed, LargeBlockAllocator<Listed>> m_order;   // the listing, in order
    qsizetype m_root = -1;          // index of "." in m_entries
    bool m_openFailed = false;
    quint32 m_maxDepth = 0;
    quint64 m_pathBytes = 0;
};

template<typename Visit>
void BomReader::forEachPath(Visit &&visit) const
{
    // Reading refused every path longer than kMaxPathBytes, so one buffer
    // holds each; a path shares its folder's bytes with the one before.
    char path[kMaxPathBytes + 1];
    std::vector<quint32> prefix(m_maxDepth + 2, 0);
    const char *data = m_data.constData();
    for (const Listed &item : m_order) {
        const Entry &e = m_entries[item.entry];
        const quint32 length = prefix[item.depth] + e.nameLength;
        std::memcpy(path + prefix[item.depth], data + e.nameOffset, e.nameLength);
        visit(QByteArrayView(path, length));
        path[length] = '/';
        prefix[item.depth + 1] = length + 1;
    }
}

} // namespace platform
