#pragma once

#include <QByteArrayView>
#include <QtGlobal>

namespace platform {

// The checksum a bill of materials records for a file's content and for a
// link's target: the CRC of POSIX `cksum` (polynomial 0x04C11DB7, the length
// appended byte by byte, the result inverted). It is not zlib's CRC-32; an
// empty input gives 4294967295.
quint32 posixChecksum(QByteArrayView data);

} // namespace platform
