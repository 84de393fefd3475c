#pragma once

#include <QByteArray>

// How the programs take memory for large scans: half a million paths pass
// through buffers and tables of many megabytes, and every fresh 4 KiB page
// costs a fault and its zeroing (dearly on a virtual machine).
namespace platform {

// Room for a whole file read at once, empty. A buffer of many megabytes (a
// large bill) asks the system for huge pages where it grants them: filling
// fresh memory then takes one fault per 2 MiB rather than per 4 KiB, and
// the scattered reads of a parse miss the TLB far less often.
QByteArray fileBuffer(qsizetype bytes);

// The same for a large table of the program's own, once it is allocated
// and before it is first written.
void adviseLargeBlock(void *data, size_t bytes);

// Called first thing in main(): memory that one batch of a scan frees is
// kept for the next rather than given back to the system and taken again,
// since every fresh page costs a fault and its zeroing. Blocks below 32 MiB
// come from the heap, and up to 64 MiB of free heap stays with the process.
void keepFreedMemoryForReuse();

} // namespace platform
