#include "Vellora/Platform/HugePageHeap.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <thread>

#ifdef __GLIBC__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
// Reachable for as long as the process lives, so that leak checkers see no leak. Volatile: a block that is stored
// and never read is otherwise left out by the compiler, malloc call and all.
void *volatile s_alignment = nullptr;
bool s_grown = false;
} // namespace
#endif

void growHeapOnHugePages(std::size_t bytes)
{
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
    // Large blocks come from the heap rather than from mappings of their own (32 MiB is the largest threshold glibc
    // accepts; a larger one is refused), what is freed stays for the next allocation instead of going back to the
    // system to be faulted in again, and threads share the one heap rather than each growing an arena of its own.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, int(2 * bytes));
    mallopt(M_ARENA_MAX, 1);
    s_grown = true;

    // Huge pages cover whole aligned 2 MiB spans, and only spans not touched before the advice below: a span with
    // one page in it stays on small pages. The free space at the heap's end is taken up to just short of the next
    // boundary (only its first page is touched), so that the headers malloc writes while growing and freeing the
    // block below fall on the last small page before the boundary, not on the first span.
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t topStart = end - mallinfo2().keepcost;
    constexpr std::uintptr_t kChunkHeader = 2 * sizeof(std::size_t);
    std::uintptr_t boundary = (topStart + kHugePage - 1) & ~(kHugePage - 1);
    if (boundary - topStart < 6 * kChunkHeader)
        boundary += kHugePage;
    s_alignment = std::malloc(boundary - topStart - 3 * kChunkHeader);
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

void settleHeap()
{
#ifdef __GLIBC__
    if (!s_grown)
        return;
    s_grown = false;
    // glibc's defaults: 128 KiB for both thresholds, eight arenas per processor.
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
    mallopt(M_ARENA_MAX, int(8 * std::max(1u, std::thread::hardware_concurrency())));
    malloc_trim(0);
#endif
}
