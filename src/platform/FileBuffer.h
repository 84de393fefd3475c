#pragma once

#include <QByteArray>

namespace platform {

// Room for a whole file read at once, empty. A buffer of many megabytes (a
// large bill) asks the system for huge pages where it grants them: filling
// fresh memory then takes one fault per 2 MiB rather than per 4 KiB, and
// the scattered reads of a parse miss the TLB far less often.
QByteArray fileBuffer(qsizetype bytes);

// The same for the reader's own tables, once they are sized.
void adviseLargeBlock(void *data, size_t bytes);

} // namespace platform
