#include "platform/ExecutableInfo.h"

#include "platform/PropertyList.h"

#include <QVariantMap>

namespace platform::ExecutableInfo {

namespace {

constexpr quint64 kNoBits = 8;               // SHT_NOBITS: no bytes in the file
constexpr quint64 kExtendedIndex = 0xffff;   // SHN_XINDEX: the real index is in entry 0

struct SectionHeader
{
    quint64 name = 0, type = 0, offset = 0, size = 0, link = 0;
};

// An ELF file as bytes; every read is checked against their end, and every
// sum is formed only after it is known not to pass it.
class ElfFile
{
public:
    ElfFile(QByteArrayView bytes, bool is64, bool bigEndian)
        : m_bytes(bytes), m_size(quint64(bytes.size())), m_is64(is64), m_bigEndian(bigEndian) {}

    // Reads the header's section table fields; false when they make no table
    // that lies wholly in the file.
    bool readTable()
    {
        const auto offset = word(m_is64 ? 0x28 : 0x20);
        const auto entrySize = field(m_is64 ? 0x3a : 0x2e, 2);
        const auto count = field(m_is64 ? 0x3c : 0x30, 2);
        const auto names = field(m_is64 ? 0x3e : 0x32, 2);
        if (!offset || !entrySize || !count || !names || *offset == 0 || *offset > m_size
            || *entrySize < (m_is64 ? 64u : 40u))
            return false;
        m_tableOffset = *offset;
        m_entrySize = *entrySize;
        // Entries that fit in the file; division, so no product overflows.
        const quint64 fitting = (m_size - m_tableOffset) / m_entrySize;
        if (fitting == 0)
            return false;
        // A file with very many sections keeps the true count and name table
        // index in the first entry.
        m_count = 1;
        const std::optional<SectionHeader> first = header(0);
        if (!first)
            return false;
        m_count = *count ? *count : first->size;
        m_namesIndex = *names == kExtendedIndex ? first->link : *names;
        return m_count <= fitting && m_namesIndex != 0 && m_namesIndex < m_count;
    }

    quint64 count() const { return m_count; }
    quint64 namesIndex() const { return m_namesIndex; }

    std::optional<SectionHeader> header(quint64 index) const
    {
        if (index >= m_count)
            return std::nullopt;
        const quint64 at = m_tableOffset + index * m_entrySize;   // inside the file: index < count <= fitting
        const auto name = field(at, 4), type = field(at + 4, 4), link = field(at + (m_is64 ? 0x28 : 0x18), 4);
        const auto offset = word(at + (m_is64 ? 0x18 : 0x10)), size = word(at + (m_is64 ? 0x20 : 0x14));
        if (!name || !type || !offset || !size || !link)
            return std::nullopt;
        return SectionHeader{*name, *type, *offset, *size, *link};
    }

    // The section's bytes when they lie wholly in the file.
    std::optional<QByteArrayView> contents(const SectionHeader &h) const
    {
        if (h.type == kNoBits)
            return QByteArrayView();
        if (h.offset > m_size || h.size > m_size - h.offset)
            return std::nullopt;
        return m_bytes.sliced(qsizetype(h.offset), qsizetype(h.size));
    }

private:
    std::optional<quint64> field(quint64 at, int width) const
    {
        if (at > m_size || m_size - at < quint64(width))
            return std::nullopt;
        quint64 value = 0;
        for (int i = 0; i < width; ++i)
            value = value << 8 | quint8(m_bytes[qsizetype(at) + (m_bigEndian ? i : width - 1 - i)]);
        return value;
    }
    // An address-sized field: 4 bytes in ELF32, 8 in ELF64.
    std::optional<quint64> word(quint64 at) const { return field(at, m_is64 ? 8 : 4); }

    QByteArrayView m_bytes;
    quint64 m_size;
    bool m_is64;
    bool m_bigEndian;
    quint64 m_tableOffset = 0;
    quint64 m_entrySize = 0;
    quint64 m_count = 0;
    quint64 m_namesIndex = 0;
};

// The NUL-terminated name at `offset` in the name table; nothing when it
// starts or runs past the table's end.
std::optional<QByteArrayView> nameAt(QByteArrayView table, quint64 offset)
{
    if (offset >= quint64(table.size()))
        return std::nullopt;
    const QByteArrayView rest = table.sliced(qsizetype(offset));
    const qsizetype end = rest.indexOf('\0');
    if (end < 0)
        return std::nullopt;
    return rest.first(end);
}

// The section table's entry of the name table, and that table's bytes;
// nothing when the bytes are no ELF file or the table does not lie in them.
std::optional<std::pair<ElfFile, QByteArrayView>> openedTable(QByteArrayView elf)
{
    if (!isElf(elf))
        return std::nullopt;
    ElfFile file(elf, elf[4] == 2, elf[5] == 2);
    if (!file.readTable())
        return std::nullopt;
    const std::optional<SectionHeader> namesHeader = file.header(file.namesIndex());
    const std::optional<QByteArrayView> names = namesHeader ? file.contents(*namesHeader) : std::nullopt;
    if (!names)
        return std::nullopt;
    return std::make_pair(file, *names);
}

} // namespace

bool isElf(QByteArrayView bytes)
{
    // e_ident: the magic, the class (1: 32 bits, 2: 64), the byte order
    // (1: little, 2: big) and the version (1).
    return bytes.size() >= 16 && bytes.startsWith("\x7f" "ELF") && (bytes[4] == 1 || bytes[4] == 2)
           && (bytes[5] == 1 || bytes[5] == 2) && bytes[6] == 1;
}

bool hasSoundSectionTable(QByteArrayView elf)
{
    return openedTable(elf).has_value();
}

std::optional<QByteArray> section(QByteArrayView elf, QByteArrayView sectionName)
{
    const auto table = sectionName.isEmpty() ? std::nullopt : openedTable(elf);
    if (!table)
        return std::nullopt;
    const auto &[file, names] = *table;
    for (quint64 index = 1; index < file.count(); ++index) {
        const std::optional<SectionHeader> header = file.header(index);
        if (!header)
            return std::nullopt;
        if (nameAt(names, header->name) != sectionName)
            continue;
        const std::optional<QByteArrayView> bytes = file.contents(*header);
        if (!bytes)
            return std::nullopt;
        return bytes->toByteArray();
    }
    return std::nullopt;
}

std::optional<QString> bundleVersion(QByteArrayView elf, QByteArrayView sectionName)
{
    const std::optional<QByteArray> plist = section(elf, sectionName);
    if (!plist)
        return std::nullopt;
    const QVariant info = PropertyList::fromData(*plist);
    if (info.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant version = info.toMap().value(QStringLiteral("CFBundleVersion"));
    if (version.typeId() != QMetaType::QString)
        return std::nullopt;
    return version.toString();
}

} // namespace platform::ExecutableInfo
