#pragma once

#include <QtEndian>
#include <QtGlobal>

// Constants and byte helpers shared by the bill-of-materials reader and
// writer. Every integer in a bill is big-endian.
namespace platform::bom {

inline constexpr char kMagic[8] = {'B', 'O', 'M', 'S', 't', 'o', 'r', 'e'};
inline constexpr quint32 kHeaderUsed = 32;     // bytes of the header that carry fields
inline constexpr quint32 kHeaderSize = 512;    // Apple pads the header to this
inline constexpr quint32 kTreeHeaderSize = 21; // "tree", version, root, node size, count, 0
inline constexpr quint32 kNodeHeaderSize = 12; // isLeaf, count, forward, backward
inline constexpr quint32 kPathsNodeSize = 4096;
inline constexpr quint32 kVIndexNodeSize = 128;
inline constexpr quint32 kPairsPerNode = (kPathsNodeSize - kNodeHeaderSize) / 8; // 510

// Path record: type byte, flags and the fixed metadata before the per-type tail.
inline constexpr quint8 kRecordFile = 1;
inline constexpr quint8 kRecordDirectory = 2;
inline constexpr quint8 kRecordLink = 3;
inline constexpr quint8 kRecordDevice = 4;
inline constexpr quint16 kFlagsMetadataMask = 0x000F;  // 0: the record holds the type only
inline constexpr quint16 kFlagsFullMetadata = 0x000F;
inline constexpr quint32 kRecordMetadataSize = 23;      // up to and including the second "1" byte

inline quint16 readU16(const uchar *p) { return qFromBigEndian<quint16>(p); }
inline quint32 readU32(const uchar *p) { return qFromBigEndian<quint32>(p); }

inline void writeU16(uchar *p, quint16 v) { qToBigEndian<quint16>(v, p); }
inline void writeU32(uchar *p, quint32 v) { qToBigEndian<quint32>(v, p); }

} // namespace platform::bom
