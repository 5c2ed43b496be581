#include "common/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#  include <sys/mman.h>
#endif

void advise_huge_pages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole huge pages can be backed by one: the range is narrowed to the
    // 2 MiB boundaries inside the block, so no byte outside it is marked.
    constexpr std::uintptr_t huge_page = std::uintptr_t(2) << 20;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t end = (start + bytes) & ~(huge_page - 1);
    // Advice that the kernel declines (huge pages switched off) changes nothing.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}
