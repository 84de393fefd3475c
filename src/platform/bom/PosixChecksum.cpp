#include "platform/bom/PosixChecksum.h"

#include <array>

namespace platform {

namespace {

// Most-significant-bit-first CRC table for 0x04C11DB7, built at compile time.
constexpr std::array<quint32, 256> makeTable()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 crc = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<quint32, 256> kTable = makeTable();

inline quint32 step(quint32 crc, quint8 byte)
{
    return (crc << 8) ^ kTable[(crc >> 24) ^ byte];
}

} // namespace

quint32 posixChecksum(QByteArrayView data)
{
    quint32 crc = 0;
    for (char c : data)
        crc = step(crc, static_cast<quint8>(c));
    // cksum feeds the length in, least significant byte first, without
    // leading zero bytes.
    for (quint64 length = quint64(data.size()); length != 0; length >>= 8)
        crc = step(crc, static_cast<quint8>(length & 0xFF));
    return ~crc;
}

} // namespace platform
