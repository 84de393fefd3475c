#pragma once

#include "platform/bom/BomEntry.h"

#include <QtGlobal>

namespace platform::bom {

// Reads a path record of `length` bytes into `out`, or only checks it when
// `out` is null. False when a field that the record's type and flags
// announce does not fit: a record with flags 0 holds its type alone; with
// metadata it holds mode, owner, mtime and size, then a checksum (file), a
// device number (device) or a checksum and the target (link). Mach-O
// architectures, SHA-1 digests and trailers come after these and are skipped.
bool readRecord(const uchar *record, quint32 length, BomEntry *out);

} // namespace platform::bom
