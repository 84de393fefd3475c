#include "dorvane/catalogue/PathTable.h"

#include "platform/Memory.h"
#include "platform/NameFolding.h"

#include <QHashFunctions>

#include <cstring>

namespace dorvane {

namespace {

constexpr quint32 kBlockSize = 8 * 1024 * 1024;   // four whole huge pages

quint32 hashOf(QByteArrayView folded)
{
    return quint32(qHash(folded, 0));
}

// Whether a stored spelling is the file whose folded form is `folded`. A
// path of ASCII alone is compared without making its folded copy.
bool hasFoldedForm(QByteArrayView stored, QByteArrayView folded)
{
    bool ascii = true;
    if (stored.size() == folded.size()) {
        for (qsizetype i = 0; i < stored.size(); ++i) {
            const uchar c = uchar(stored[i]);
            if (c >= 0x80) {
                ascii = false;
                break;
            }
            if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != uchar(folded[i]))
                return false;
        }
        if (ascii)
            return true;
    }
    return platform::foldedNameUtf8(stored) == folded;
}

} // namespace

void FoldedPaths::reserve(qsizetype paths, qsizetype bytes)
{
    m_items.reserve(size_t(paths));
    m_text.reserve(bytes);
}

void FoldedPaths::append(QByteArrayView spelling)
{
    const qsizetype offset = m_text.size();
    m_text.append(spelling);
    platform::appendFoldedNameUtf8(spelling, m_text);
    const quint32 keyLength = quint32(m_text.size() - offset - spelling.size());
    const QByteArrayView key(m_text.constData() + offset + spelling.size(), keyLength);
    m_items.push_back({offset, quint32(spelling.size()), keyLength, hashOf(key)});
}

PathTable::PathTable() = default;
PathTable::PathTable(PathTable &&) noexcept = default;
PathTable &PathTable::operator=(PathTable &&) noexcept = default;
PathTable::~PathTable() = default;

PathTable::Id PathTable::intern(QStringView path)
{
    const QByteArray bytes = path.toUtf8();
    const QByteArray folded = platform::foldedNameUtf8(bytes);
    return intern(bytes, folded, hashOf(folded));
}

PathTable::Id PathTable::intern(QByteArrayView bytes, QByteArrayView folded, quint32 hash)
{
    if (const std::optional<Id> known = findFolded(folded, hash))
        return *known;

    const quint32 length = quint32(bytes.size());
    if (m_blocks.empty() || m_blockUsed + length > m_blockSize) {
        // An over-long path (a hostile prefix) gets a block of its own.
        m_blockSize = std::max(kBlockSize, length);
        // Written before it is read, so not cleared.
        m_blocks.emplace_back(static_cast<char *>(platform::allocateLarge(m_blockSize)), BlockRelease{m_blockSize});
        m_blockUsed = 0;
    }
    std::memcpy(m_blocks.back().get() + m_blockUsed, bytes.constData(), length);
    const Id id = Id(m_entries.size());
    if (m_entries.size() == m_entries.capacity())
        m_entries.reserve(std::max<size_t>(m_entries.capacity() * 2, 1024));
    m_entries.push_back({quint32(m_blocks.size() - 1), m_blockUsed, length, hash});
    m_blockUsed += length;
    m_textBytes += length;
    if ((m_entries.size() + 1) * 2 > m_slots.size())
        rehash();
    else
        insertSlot(id, hash);
    return id;
}

std::optional<PathTable::Id> PathTable::find(QStringView path) const
{
    const QByteArray folded = platform::foldedNameUtf8(path.toUtf8());
    return findFolded(folded, hashOf(folded));
}

QString PathTable::path(Id id) const
{
    return QString::fromUtf8(utf8(id));
}

QByteArrayView PathTable::utf8(Id id) const
{
    const Entry &entry = m_entries.at(id);
    return QByteArrayView(m_blocks[entry.block].get() + entry.offset, entry.length);
}

std::optional<PathTable::Id> PathTable::findFolded(QByteArrayView folded, quint32 hash) const
{
    if (m_slots.empty())
        return std::nullopt;
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const Slot stored = m_slots[slot];
        if (stored.id == 0)
            return std::nullopt;
        if (stored.hash == hash && hasFoldedForm(utf8(stored.id - 1), folded))
            return stored.id - 1;
    }
}

void PathTable::insertSlot(Id id, quint32 hash)
{
    const size_t mask = m_slots.size() - 1;
    size_t slot = hash & mask;
    while (m_slots[slot].id != 0)
        slot = (slot + 1) & mask;
    m_slots[slot] = {id + 1, hash};
}

void PathTable::rehash()
{
    size_t size = std::max<size_t>(m_slots.size() * 2, 1024);
    while (size < m_entries.size() * 2)
        size *= 2;
    m_slots.assign(size, Slot{0, 0});
    for (Id id = 0; id < Id(m_entries.size()); ++id)
        insertSlot(id, m_entries[id].hash);
}

} // namespace dorvane
