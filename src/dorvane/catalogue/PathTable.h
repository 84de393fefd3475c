#pragma once

#include "platform/Memory.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace dorvane {

// Paths folded and hashed ahead of PathTable::intern(), on any thread, so a
// scan folds each path once and away from the table: the UTF-8 spelling and
// the folded key of every path, kept in one buffer.
class FoldedPaths
{
public:
    void reserve(qsizetype paths, qsizetype bytes);
    void append(QByteArrayView spelling);

    qsizetype size() const { return qsizetype(m_items.size()); }
    QByteArrayView spelling(qsizetype i) const
    {
        const Item &item = m_items[size_t(i)];
        return QByteArrayView(m_text.constData() + item.offset, item.spellingLength);
    }
    QByteArrayView key(qsizetype i) const
    {
        const Item &item = m_items[size_t(i)];
        return QByteArrayView(m_text.constData() + item.offset + item.spellingLength, item.keyLength);
    }
    quint32 hash(qsizetype i) const { return m_items[size_t(i)].hash; }

private:
    struct Item
    {
        qsizetype offset;   // the spelling, then the key
        quint32 spellingLength;
        quint32 keyLength;
        quint32 hash;
    };
    QByteArray m_text;
    std::vector<Item> m_items;
};

// Every distinct path of a scan, stored once: the UTF-8 bytes of all paths
// in a few large blocks, each path known by a small number. A volume lists
// half a million paths; as separate strings they took three times their
// bytes, here they take their bytes and some twenty more each.
//
// The catalogue hands in clean logical paths only. Two spellings of one file
// on a Mac volume (case, Unicode form) are one entry, which keeps the
// spelling first added; every look-up by any spelling finds it. Not
// thread-safe while paths are added; safe to read from any thread afterwards.
class PathTable
{
public:
    using Id = quint32;

    PathTable();
    PathTable(PathTable &&) noexcept;
    PathTable &operator=(PathTable &&) noexcept;
    ~PathTable();

    // The path's number, adding it when it is new.
    Id intern(QStringView path);
    // A scan interns a package's paths in order: the slot of one a few ahead
    // is asked for now, so that its cache miss is over when its turn comes.
    Id intern(const FoldedPaths &paths, qsizetype i)
    {
        if (i + kSlotsAhead < paths.size() && !m_slots.empty())
            __builtin_prefetch(&m_slots[paths.hash(i + kSlotsAhead) & (m_slots.size() - 1)]);
        return intern(paths.spelling(i), paths.key(i), paths.hash(i));
    }
    std::optional<Id> find(QStringView path) const;

    QString path(Id id) const;
    QByteArrayView utf8(Id id) const;
    qsizetype count() const { return qsizetype(m_entries.size()); }
    // The bytes of all paths, without the table's own overhead.
    quint64 textBytes() const { return m_textBytes; }

private:
    static constexpr qsizetype kSlotsAhead = 8;
    struct Entry
    {
        quint32 block;
        quint32 offset;
        quint32 length;
        quint32 hash;   // of the folded form
    };
    Id intern(QByteArrayView spelling, QByteArrayView folded, quint32 hash);
    std::optional<Id> findFolded(QByteArrayView folded, quint32 hash) const;
    void insertSlot(Id id, quint32 hash);
    void rehash();

    struct BlockRelease
    {
        size_t bytes;
        void operator()(char *data) const noexcept { platform::freeLarge(data, bytes); }
    };
    std::vector<std::unique_ptr<char[], BlockRelease>> m_blocks;
    quint32 m_blockUsed = 0;
    quint32 m_blockSize = 0;
    std::vector<Entry, platform::LargeBlockAllocator<Entry>> m_entries;
    struct Slot
    {
        quint32 id;     // id + 1; 0 is an empty slot
        quint32 hash;   // a copy, so a probe that misses reads no entry
    };
    std::vector<Slot, platform::LargeBlockAllocator<Slot>> m_slots;
    quint64 m_textBytes = 0;
};

} // namespace dorvane
