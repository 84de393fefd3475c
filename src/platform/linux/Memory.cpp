#include "platform/Memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace platform {

namespace {

constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
// A heap block this long holds at least one whole huge page, whatever its
// start; below it the few faults saved do not pay for the advice call.
constexpr size_t kWorthAdvising = size_t(4) << 20;
// A table of one huge page or more gets a mapping of its own: the tables
// grow by doubling, so most are whole huge pages; any other is rounded up.
constexpr size_t kWorthMapping = kHugePage;

constexpr uintptr_t hugePageDown(uintptr_t at) { return at & ~(kHugePage - 1); }
constexpr uintptr_t hugePageUp(uintptr_t at) { return hugePageDown(at + kHugePage - 1); }

// Asks for huge pages over the whole 2 MiB pages of a block not yet touched.
void adviseLargeBlock(void *data, size_t bytes)
{
    if (bytes < kWorthAdvising)
        return;
    // Only whole huge pages inside the block are advised; its edges stay as
    // the allocator made them. Where the system has no huge pages the advice
    // fails, harmlessly.
    const uintptr_t begin = hugePageUp(reinterpret_cast<uintptr_t>(data));
    const uintptr_t end = hugePageDown(reinterpret_cast<uintptr_t>(data) + bytes);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace

void *allocateLarge(size_t bytes)
{
    if (bytes < kWorthMapping)
        return ::operator new(bytes);
    if (bytes > SIZE_MAX - 2 * kHugePage)
        throw std::bad_alloc();   // the rounding below would wrap
    // Mapped a huge page too long, then trimmed to whole huge pages on
    // their bounds: the advice then covers every byte of the block.
    const size_t length = hugePageUp(bytes);
    void *mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t begin = hugePageUp(start);
    if (begin > start)
        ::munmap(mapped, begin - start);
    ::munmap(reinterpret_cast<void *>(begin + length), start + kHugePage - begin);
    ::madvise(reinterpret_cast<void *>(begin), length, MADV_HUGEPAGE);
    return reinterpret_cast<void *>(begin);
}

void freeLarge(void *data, size_t bytes) noexcept
{
    if (!data)
        return;
    if (bytes < kWorthMapping)
        ::operator delete(data);
    else
        ::munmap(data, hugePageUp(bytes));
}

QByteArray fileBuffer(qsizetype bytes)
{
    QByteArray buffer;
    buffer.reserve(bytes);
    adviseLargeBlock(buffer.data(), size_t(buffer.capacity()));
    return buffer;
}

void keepFreedMemoryForReuse()
{
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

} // namespace platform
