#include "platform/plist/PlistReaders.h"

#include <QDateTime>
#include <QHash>
#include <QStringDecoder>

#include <cmath>
#include <cstring>
#include <vector>

namespace platform::plist {

namespace {

constexpr char kMagic[8] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr quint64 kHeaderSize = sizeof(kMagic);
constexpr quint64 kTrailerSize = 32;

// About 3,000 years either side of 2001: far beyond any real date, and small
// enough that the conversion to milliseconds cannot overflow.
constexpr double kMaxDateSeconds = 1e11;

class BinaryReader
{
public:
    explicit BinaryReader(const QByteArray &data)
        : m_bytes(reinterpret_cast<const uchar *>(data.constData()))
        , m_size(quint64(data.size()))
    {
    }

    QVariant read(QString *error);

private:
    // Each object is built once; a shared one is handed out again (Qt's
    // implicit sharing), with its size charged at every place it appears.
    QVariant object(quint64 index, int depth);
    QVariant build(quint64 index, int depth);
    bool charge(quint64 index, qint64 values, qint64 payload);
    QVariant array(quint64 index, quint64 count, quint64 start, int depth);
    QVariant dictionary(quint64 index, quint64 count, quint64 start, int depth);
    QVariant asciiString(quint64 index, const uchar *bytes, quint64 length);
    QVariant utf16String(quint64 index, const uchar *bytes, quint64 units);

    // Big-endian unsigned integer of 1 to 8 bytes; the caller checks bounds.
    quint64 uintAt(quint64 position, unsigned width) const;
    // The object's length and where its contents begin: a count in the
    // marker's low four bits, or, when they are all set, in an integer
    // object that follows it.
    bool lengthOf(quint64 index, quint64 offset, quint64 *length, quint64 *start);
    // Whether `count` items of `width` bytes from `start` lie in the object area.
    bool fits(quint64 start, quint64 count, quint64 width = 1) const
    {
        return start <= m_objectsEnd && count <= (m_objectsEnd - start) / width;
    }
    QVariant fail(quint64 index, const QString &message);

    const uchar *m_bytes;
    const quint64 m_size;
    quint64 m_objectsEnd = 0; // the offset table follows the objects
    unsigned m_offsetSize = 0;
    unsigned m_refSize = 0;
    quint64 m_count = 0;
    std::vector<bool> m_onPath; // containers being read, to refuse cycles
    struct Built
    {
        QVariant value;
        qint64 values;
        qint64 payload;
        int height;
    };
    QHash<quint64, Built> m_built;
    qint64 m_values = 0; // in the tree as the caller will see it
    qint64 m_payload = 0; // bytes of strings and data, likewise
    int m_deepest = 0;
    QString m_error;
};

quint64 BinaryReader::uintAt(quint64 position, unsigned width) const
{
    quint64 value = 0;
    for (unsigned i = 0; i < width; ++i)
        value = (value << 8) | m_bytes[position + i];
    return value;
}

QVariant BinaryReader::fail(quint64 index, const QString &message)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("binary property list, object %1: %2").arg(index).arg(message);
    return {};
}

QVariant BinaryReader::read(QString *error)
{
    if (m_size < kHeaderSize + 1 + kTrailerSize || std::memcmp(m_bytes, kMagic, kHeaderSize) != 0) {
        *error = QStringLiteral("not a binary property list");
        return {};
    }
    const quint64 trailer = m_size - kTrailerSize;
    m_offsetSize = m_bytes[trailer + 6];
    m_refSize = m_bytes[trailer + 7];
    m_count = uintAt(trailer + 8, 8);
    const quint64 top = uintAt(trailer + 16, 8);
    m_objectsEnd = uintAt(trailer + 24, 8);
    QString problem;
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
        problem = QStringLiteral("integer sizes %1 and %2 in the trailer").arg(m_offsetSize).arg(m_refSize);
    else if (m_objectsEnd <= kHeaderSize || m_objectsEnd > trailer || m_count == 0
             || m_count > (trailer - m_objectsEnd) / m_offsetSize)
        problem = QStringLiteral("offset table of %1 entries at %2 does not fit the file").arg(m_count).arg(m_objectsEnd);
    else if (top >= m_count)
        problem = QStringLiteral("top object %1 is not in the offset table").arg(top);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("binary property list: ") + problem;
        return {};
    }
    m_onPath.assign(m_count, false);
    QVariant result = object(top, 0);
    if (!m_error.isEmpty()) {
        *error = m_error;
        return {};
    }
    return result;
}

bool BinaryReader::lengthOf(quint64 index, quint64 offset, quint64 *length, quint64 *start)
{
    const unsigned info = m_bytes[offset] & 0x0F;
    if (info != 0x0F) {
        *length = info;
        *start = offset + 1;
        return true;
    }
    const quint64 marker = offset + 1;
    if (!fits(marker, 1) || (m_bytes[marker] & 0xF0) != 0x10 || (m_bytes[marker] & 0x0F) > 3) {
        fail(index, QStringLiteral("length is not an integer of up to 8 bytes"));
        return false;
    }
    const unsigned width = 1u << (m_bytes[marker] & 0x0F);
    if (!fits(marker + 1, width)) {
        fail(index, QStringLiteral("length runs past the objects"));
        return false;
    }
    *length = uintAt(marker + 1, width);
    *start = marker + 1 + width;
    return true;
}

bool BinaryReader::charge(quint64 index, qint64 values, qint64 payload)
{
    m_values += values;
    m_payload += payload;
    if (m_values > kMaxValues)
        fail(index, QStringLiteral("more than %1 values").arg(kMaxValues));
    else if (m_payload > kMaxBytes)
        fail(index, QStringLiteral("more than %1 bytes of strings and data").arg(kMaxBytes));
    return m_error.isEmpty();
}

QVariant BinaryReader::object(quint64 index, int depth)
{
    const auto built = m_built.constFind(index);
    const int height = built == m_built.cend() ? 0 : built->height;
    if (depth + height > kMaxDepth)
        return fail(index, QStringLiteral("nested deeper than %1 levels").arg(kMaxDepth));
    if (built != m_built.cend()) {
        m_deepest = qMax(m_deepest, depth + height);
        return charge(index, built->values, built->payload) ? built->value : QVariant();
    }
    const qint64 values = m_values;
    const qint64 payload = m_payload;
    const int deepest = m_deepest;
    m_deepest = depth;
    QVariant result = build(index, depth);
    if (!m_error.isEmpty())
        return {};
    m_built.insert(index, Built{result, m_values - values, m_payload - payload, m_deepest - depth});
    m_deepest = qMax(deepest, m_deepest);
    return result;
}

QVariant BinaryReader::build(quint64 index, int depth)
{
    if (!charge(index, 1, 0))
        return {};
    const quint64 offset = uintAt(m_objectsEnd + index * m_offsetSize, m_offsetSize);
    if (offset < kHeaderSize || offset >= m_objectsEnd)
        return fail(index, QStringLiteral("offset %1 is outside the objects").arg(offset));

    const uchar marker = m_bytes[offset];
    const unsigned info = marker & 0x0F;
    quint64 length = 0;
    quint64 start = offset + 1;
    switch (marker >> 4) {
    case 0x0:
        if (marker == 0x08 || marker == 0x09)
            return QVariant(marker == 0x09);
        return fail(index, QStringLiteral("null and fill markers are not values"));
    case 0x1: {
        if (info > 4)
            return fail(index, QStringLiteral("integer of 2^%1 bytes").arg(info));
        const unsigned width = 1u << info;
        if (!fits(start, width))
            return fail(index, QStringLiteral("integer runs past the objects"));
        // Sixteen-byte integers carry the value in their low half; eight-byte
        // ones are signed, which the cast restores.
        return QVariant(qint64(uintAt(start + (width > 8 ? 8 : 0), qMin(width, 8u))));
    }
    case 0x2:
    case 0x3: {
        const bool date = marker == 0x33;
        if (!date && marker != 0x22 && marker != 0x23)
            return fail(index, QStringLiteral("marker 0x%1 is neither a real nor a date").arg(marker, 0, 16));
        const unsigned width = 1u << info;
        if (!fits(start, width))
            return fail(index, QStringLiteral("number runs past the objects"));
        double value = 0;
        if (width == 4) {
            const quint32 bits = quint32(uintAt(start, 4));
            float f = 0;
            std::memcpy(&f, &bits, sizeof f);
            value = f;
        } else {
            const quint64 bits = uintAt(start, 8);
            std::memcpy(&value, &bits, sizeof value);
        }
        if (!date)
            return QVariant(value);
        if (!std::isfinite(value) || std::fabs(value) > kMaxDateSeconds)
            return fail(index, QStringLiteral("date out of range"));
        const qint64 ms = qint64(std::llround(value * 1000.0)) + kMacEpochOffset * 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
    }
    case 0x4:
        if (!lengthOf(index, offset, &length, &start))
            return {};
        if (!fits(start, length))
            return fail(index, QStringLiteral("data runs past the objects"));
        if (!charge(index, 0, qint64(length)))
            return {};
        return QVariant(QByteArray(reinterpret_cast<const char *>(m_bytes + start), qsizetype(length)));
    case 0x5:
        if (!lengthOf(index, offset, &length, &start))
            return {};
        if (!fits(start, length))
            return fail(index, QStringLiteral("string runs past the objects"));
        if (!charge(index, 0, qint64(length)))
            return {};
        return asciiString(index, m_bytes + start, length);
    case 0x6:
        if (!lengthOf(index, offset, &length, &start))
            return {};
        if (!fits(start, length, 2))
            return fail(index, QStringLiteral("string runs past the objects"));
        if (!charge(index, 0, qint64(2 * length)))
            return {};
        return utf16String(index, m_bytes + start, length);
    case 0x8: {
        const unsigned width = info + 1;
        if (width > 8)
            return fail(index, QStringLiteral("UID of %1 bytes").arg(width));
        if (!fits(start, width))
            return fail(index, QStringLiteral("UID runs past the objects"));
        return QVariant(uintAt(start, width));
    }
    case 0xA:
    case 0xD:
        if (!lengthOf(index, offset, &length, &start))
            return {};
        if (m_onPath[index])
            return fail(index, QStringLiteral("refers back to itself"));
        m_onPath[index] = true;
        {
            QVariant result = (marker >> 4) == 0xA ? array(index, length, start, depth)
                                                   : dictionary(index, length, start, depth);
            m_onPath[index] = false;
            return result;
        }
    default:
        return fail(index, QStringLiteral("marker 0x%1 is not a supported type").arg(marker, 0, 16));
    }
}

QVariant BinaryReader::array(quint64 index, quint64 count, quint64 start, int depth)
{
    if (!fits(start, count, m_refSize))
        return fail(index, QStringLiteral("array of %1 runs past the objects").arg(count));
    QVariantList list;
    list.reserve(qsizetype(qMin<quint64>(count, quint64(kMaxValues))));
    for (quint64 i = 0; i < count; ++i) {
        const quint64 ref = uintAt(start + i * m_refSize, m_refSize);
        if (ref >= m_count)
            return fail(index, QStringLiteral("refers to object %1, which does not exist").arg(ref));
        list.append(object(ref, depth + 1));
        if (!m_error.isEmpty())
            return {};
    }
    return QVariant(list);
}

QVariant BinaryReader::dictionary(quint64 index, quint64 count, quint64 start, int depth)
{
    if (count > (quint64(-1) / 2) || !fits(start, 2 * count, m_refSize))
        return fail(index, QStringLiteral("dictionary of %1 runs past the objects").arg(count));
    QVariantMap map;
    for (quint64 i = 0; i < count; ++i) {
        const quint64 keyRef = uintAt(start + i * m_refSize, m_refSize);
        const quint64 valueRef = uintAt(start + (count + i) * m_refSize, m_refSize);
        if (keyRef >= m_count || valueRef >= m_count)
            return fail(index, QStringLiteral("refers to an object that does not exist"));
        const QVariant key = object(keyRef, depth + 1);
        if (!m_error.isEmpty())
            return {};
        if (key.typeId() != QMetaType::QString)
            return fail(index, QStringLiteral("key %1 is not a string").arg(keyRef));
        QVariant value = object(valueRef, depth + 1);
        if (!m_error.isEmpty())
            return {};
        map.insert(key.toString(), value);
    }
    return QVariant(map);
}

QVariant BinaryReader::asciiString(quint64 index, const uchar *bytes, quint64 length)
{
    // Meant to be ASCII; other writers put UTF-8 here, which is read as such.
    const QByteArrayView view(reinterpret_cast<const char *>(bytes), qsizetype(length));
    if (view.contains('\0'))
        return fail(index, QStringLiteral("string holds a NUL character"));
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(view);
    if (decoder.hasError())
        return fail(index, QStringLiteral("string is not valid UTF-8"));
    return QVariant(text);
}

QVariant BinaryReader::utf16String(quint64 index, const uchar *bytes, quint64 units)
{
    QString text(qsizetype(units), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    bool wantLow = false;
    for (quint64 i = 0; i < units; ++i) {
        const char16_t unit = char16_t((bytes[2 * i] << 8) | bytes[2 * i + 1]);
        if (unit == 0)
            return fail(index, QStringLiteral("string holds a NUL character"));
        const bool low = QChar::isLowSurrogate(unit);
        if (low != wantLow)
            return fail(index, QStringLiteral("string is not valid UTF-16"));
        wantLow = QChar::isHighSurrogate(unit);
        out[i] = unit;
    }
    if (wantLow)
        return fail(index, QStringLiteral("string is not valid UTF-16"));
    return QVariant(text);
}

} // namespace

QVariant readBinary(const QByteArray &data, QString *error)
{
    return BinaryReader(data).read(error);
}

} // namespace platform::plist
