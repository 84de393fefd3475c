#include "platform/Memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

namespace platform {

namespace {

constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
// Below this the few faults saved do not pay for the advice call.
constexpr size_t kWorthAdvising = size_t(4) << 20;

} // namespace

void adviseLargeBlock(void *data, size_t bytes)
{
    if (bytes < kWorthAdvising)
        return;
    // Only whole huge pages inside the block are advised; its edges stay as
    // the allocator made them. Where the system has no huge pages the advice
    // fails, harmlessly.
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
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
