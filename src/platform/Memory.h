#pragma once

#include <QByteArray>

#include <cstddef>

// How the programs take memory for large scans: half a million paths pass
// through buffers and tables of many megabytes, and every fresh 4 KiB page
// costs a fault and its zeroing (dearly on a virtual machine).
namespace platform {

// Room for a whole file read at once, empty. A buffer of many megabytes (a
// large bill) asks the system for huge pages where it grants them: filling
// fresh memory then takes one fault per 2 MiB rather than per 4 KiB, and
// the scattered reads of a parse miss the TLB far less often.
QByteArray fileBuffer(qsizetype bytes);

// Memory for a table that grows to many megabytes: a block of 2 MiB or more
// is mapped on its own, on huge-page bounds, and asks for huge pages before
// anything touches it, so that it faults in whole 2 MiB pages even when the
// table copies itself into it; it goes back to the system when freed. A
// smaller block comes from the heap.
void *allocateLarge(size_t bytes);
void freeLarge(void *data, size_t bytes) noexcept;

template <typename T>
struct LargeBlockAllocator
{
    using value_type = T;
    LargeBlockAllocator() = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U> &) noexcept
    {
    }
    T *allocate(size_t n) { return static_cast<T *>(allocateLarge(n * sizeof(T))); }
    void deallocate(T *data, size_t n) noexcept { freeLarge(data, n * sizeof(T)); }
    friend bool operator==(const LargeBlockAllocator &, const LargeBlockAllocator &) { return true; }
};

// Called first thing in main(): memory that one batch of a scan frees is
// kept for the next rather than given back to the system and taken again,
// since every fresh page costs a fault and its zeroing. Blocks below 32 MiB
// come from the heap, and up to 64 MiB of free heap stays with the process.
void keepFreedMemoryForReuse();

} // namespace platform
