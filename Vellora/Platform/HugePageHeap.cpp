#include "Vellora/Platform/HugePageHeap.h"

#include <cstdint>
#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {
// Reachable for as long as the process lives, so that leak checkers see no leak.
void *s_alignment = nullptr;
} // namespace

void growHeapOnHugePages(std::size_t bytes)
{
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
    // Large blocks come from the heap rather than from mappings of their own, and what is freed stays there for the
    // next allocation instead of going back to the system to be faulted in again.
    // (32 MiB is the largest threshold glibc accepts; a larger one is refused and leaves the default of 128 KiB.)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, int(2 * bytes));

    // Huge pages cover whole aligned 2 MiB spans: the free space at the heap's end is taken up to the next such
    // boundary (only its first page is ever touched), so that what is allocated next starts on one.
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t topStart = end - mallinfo2().keepcost;
    const std::uintptr_t boundary = (topStart + kHugePage - 1) & ~(kHugePage - 1);
    constexpr std::uintptr_t kChunkHeader = 2 * sizeof(std::size_t);
    if (boundary - topStart > 4 * kChunkHeader)
        s_alignment = std::malloc(boundary - topStart - kChunkHeader);
    // Grows the heap, which keeps the block's pages once it is freed (volatile: the pair is not optimised away).
    void *volatile block = std::malloc(bytes);
    std::free(block);

    const std::uintptr_t grownEnd = reinterpret_cast<std::uintptr_t>(sbrk(0)) & ~(kHugePage - 1);
    // Only a hint: refused, the heap works as before.
    if (grownEnd > boundary)
        static_cast<void>(madvise(reinterpret_cast<void *>(boundary), grownEnd - boundary, MADV_HUGEPAGE));
#else
    static_cast<void>(bytes);
#endif
}
