#include "platform/Bookmark.h"

#include <QStringList>
#include <QtEndian>

namespace platform {

namespace {

constexpr quint32 kTableMagic = 0xfffffffe;
constexpr quint32 kPathKey = 0x1004;         // the target's path components
constexpr quint32 kVolumePathKey = 0x2002;   // where its volume is mounted
constexpr quint32 kTypeMask = 0xffffff00;
constexpr quint32 kString = 0x0100;
constexpr quint32 kArray = 0x0600;

// Every offset is checked against the data before it is read.
class Reader
{
public:
    explicit Reader(const QByteArray &data) : m_data(data) {}

    std::optional<quint32> number(qint64 at) const
    {
        if (at < 0 || at + 4 > m_data.size())
            return std::nullopt;
        return qFromLittleEndian<quint32>(m_data.constData() + at);
    }

    // An item at an offset from the header's end: its type and its bytes.
    std::optional<std::pair<quint32, QByteArray>> item(quint32 offset) const
    {
        const qint64 at = qint64(header()) + offset;
        const std::optional<quint32> length = number(at), type = number(at + 4);
        if (!length || !type || at + 8 + qint64(*length) > m_data.size())
            return std::nullopt;
        return std::pair(*type, m_data.mid(at + 8, *length));
    }

    std::optional<QString> text(quint32 offset) const
    {
        const auto found = item(offset);
        if (!found || (found->first & kTypeMask) != kString)
            return std::nullopt;
        return QString::fromUtf8(found->second);
    }

    quint32 header() const { return number(12).value_or(0); }

private:
    const QByteArray &m_data;
};

} // namespace

bool isBookmarkData(const QByteArray &data)
{
    const Reader reader(data);
    return data.startsWith("book") && reader.number(4) == quint32(data.size()) && reader.header() >= 16
           && qint64(reader.header()) + 4 <= data.size();
}

std::optional<QString> bookmarkPath(const QByteArray &data)
{
    if (!isBookmarkData(data))
        return std::nullopt;
    const Reader reader(data);
    // The first table of contents holds the path.
    const qint64 table = qint64(reader.header()) + reader.number(reader.header()).value_or(0);
    const std::optional<quint32> count = reader.number(table + 16);
    if (reader.number(table + 4) != kTableMagic || !count || table + 20 + 12 * qint64(*count) > data.size())
        return std::nullopt;
    QStringList components;
    std::optional<QString> volume;
    for (qint64 entry = table + 20; entry < table + 20 + 12 * qint64(*count); entry += 12) {
        const quint32 key = *reader.number(entry), offset = *reader.number(entry + 4);
        if (key == kVolumePathKey)
            volume = reader.text(offset);
        if (key != kPathKey)
            continue;
        const auto array = reader.item(offset);
        if (!array || (array->first & kTypeMask) != kArray)
            return std::nullopt;
        for (qsizetype at = 0; at + 4 <= array->second.size(); at += 4) {
            const std::optional<QString> name = reader.text(qFromLittleEndian<quint32>(array->second.constData() + at));
            if (!name || name->isEmpty() || *name == QLatin1String(".") || *name == QLatin1String("..")
                || name->contains(QLatin1Char('/')))
                return std::nullopt;
            components.append(*name);
        }
    }
    if (components.isEmpty() || (volume && *volume != QLatin1String("/")))
        return std::nullopt;
    return QLatin1Char('/') + components.join(QLatin1Char('/'));
}

} // namespace platform
