// Large blocks backed by huge pages where the system offers them on request.
#ifndef IMGFILTER_COMMON_HUGE_PAGES_H
#define IMGFILTER_COMMON_HUGE_PAGES_H

#include <cstddef>

// Blocks from this size on are worth the advice: a 12-megapixel image is
// 48 MB, some 12,000 faults of 4 KiB pages on first touch (about 0.1 s here),
// against a few dozen of 2 MiB pages. Smaller blocks stay as they are.
constexpr std::size_t k_huge_page_block = std::size_t(4) << 20;

// Asks the kernel to back the whole 2 MiB pages inside [block, block + bytes)
// with huge pages; call it before the block is first written. It only marks
// that range of this block, changes no setting of the C library or the
// process, and does nothing where the system has no such request.
void advise_huge_pages(void* block, std::size_t bytes);

#endif
