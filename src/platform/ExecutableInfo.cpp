#include "platform/ExecutableInfo.h"

#include "platform/PropertyList.h"

#include <QtEndian>

namespace platform::ExecutableInfo {

namespace {

constexpr quint32 kNoBits = 8;          // SHT_NOBITS: a section with no bytes in the file
constexpr quint32 kExtendedIndex = 0xffff;

// The section table as the header describes it, every field checked
// against the bytes.
struct Layout
{
    QByteArrayView bytes;
    bool wide = false;       // 64 bits
    bool bigEndian = false;
    quint64 tableOffset = 0;
    quint64 entrySize = 0;
    quint64 count = 0;
    quint64 namesIndex = 0;

    quint64 field(quint64 offset, int size) const
    {
        const auto *p = reinterpret_cast<const uchar *>(bytes.data()) + offset;
        switch (size) {
        case 2: return bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
        case 4: return bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
        default: return bigEndian ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
        }
    }
    int word() const { return wide ? 8 : 4; }

    struct Section { quint32 name; quint32 type; quint64 offset; quint64 size; quint32 link; };
    Section sectionAt(quint64 index) const
    {
        const quint64 at = tableOffset + index * entrySize;
        const quint64 offsetAt = at + (wide ? 24 : 16);
        return {quint32(field(at, 4)), quint32(field(at + 4, 4)), field(offsetAt, word()),
                field(offsetAt + word(), word()), quint32(field(offsetAt + 2 * word(), 4))};
    }
    bool fits(quint64 offset, quint64 size) const
    {
        return offset <= quint64(bytes.size()) && size <= quint64(bytes.size()) - offset;
    }
};

std::optional<Layout> layoutOf(QByteArrayView bytes)
{
    if (!isElf(bytes))
        return std::nullopt;
    Layout layout;
    layout.bytes = bytes;
    layout.wide = bytes[4] == 2;
    layout.bigEndian = bytes[5] == 2;
    if (bytes.size() < (layout.wide ? 64 : 52))
        return std::nullopt;
    const int w = layout.word();
    layout.tableOffset = layout.field(layout.wide ? 40 : 32, w);
    const quint64 sizes = layout.wide ? 58 : 46;
    layout.entrySize = layout.field(sizes, 2);
    layout.count = layout.field(sizes + 2, 2);
    layout.namesIndex = layout.field(sizes + 4, 2);
    const quint64 needed = layout.wide ? 64 : 40;
    if (layout.tableOffset == 0 || layout.entrySize < needed || !layout.fits(layout.tableOffset, layout.entrySize))
        return std::nullopt;
    // Many sections: the real count and names index sit in section 0.
    if (layout.count == 0)
        layout.count = layout.sectionAt(0).size;
    if (layout.namesIndex == kExtendedIndex)
        layout.namesIndex = layout.sectionAt(0).link;
    if (layout.count == 0 || layout.count > quint64(bytes.size()) / layout.entrySize
        || !layout.fits(layout.tableOffset, layout.count * layout.entrySize) || layout.namesIndex >= layout.count)
        return std::nullopt;
    const Layout::Section names = layout.sectionAt(layout.namesIndex);
    if (names.type == kNoBits || !layout.fits(names.offset, names.size))
        return std::nullopt;
    return layout;
}

} // namespace

bool isElf(QByteArrayView bytes)
{
    return bytes.size() >= 16 && bytes.first(4) == QByteArrayView("\x7f" "ELF") && (bytes[4] == 1 || bytes[4] == 2)
           && (bytes[5] == 1 || bytes[5] == 2);
}

bool hasSoundSectionTable(QByteArrayView elf)
{
    return layoutOf(elf).has_value();
}

std::optional<QByteArray> section(QByteArrayView elf, QByteArrayView sectionName)
{
    const std::optional<Layout> layout = layoutOf(elf);
    if (!layout)
        return std::nullopt;
    const Layout::Section names = layout->sectionAt(layout->namesIndex);
    const QByteArrayView table = elf.sliced(qsizetype(names.offset), qsizetype(names.size));
    for (quint64 i = 0; i < layout->count; ++i) {
        const Layout::Section s = layout->sectionAt(i);
        if (s.name >= quint64(table.size()))
            continue;
        const QByteArrayView rest = table.sliced(s.name);
        const qsizetype end = rest.indexOf('\0');
        if (end < 0 || rest.first(end) != sectionName)
            continue;
        if (s.type == kNoBits)
            return QByteArray();
        if (!layout->fits(s.offset, s.size))
            return std::nullopt;
        return elf.sliced(qsizetype(s.offset), qsizetype(s.size)).toByteArray();
    }
    return std::nullopt;
}

std::optional<QString> bundleVersion(QByteArrayView elf, QByteArrayView sectionName)
{
    std::optional<QByteArray> info = section(elf, sectionName);
    if (!info)
        return std::nullopt;
    // A list compiled in as a C string ends in a NUL the reader would refuse.
    while (info->endsWith('\0'))
        info->chop(1);
    const QVariant version = PropertyList::fromData(*info).toMap().value(QStringLiteral("CFBundleVersion"));
    if (version.typeId() != QMetaType::QString)
        return std::nullopt;
    return version.toString();
}

} // namespace platform::ExecutableInfo
