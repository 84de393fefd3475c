#pragma once

#include <QByteArray>

namespace platform {

// Room for a whole file read at once, empty. A buffer of many megabytes (a
// large bill) asks the system for huge pages where it grants them: filling
// fresh memory then takes one fault per 2 MiB rather than per 4 KiB, and
// the scattered reads of a parse miss the TLB far less often.
QByteArray fileBuffer(qsizetype bytes);

// The same for a large table of the program's own, once it is allocated
// and before it is first written.
void adviseLargeBlock(void *data, size_t bytes);

} // namespace platform
