// Owners for blocks of the C heap. Pixel buffers cross the boundary to the
// decoder and encoder, which use malloc/free, so the library never uses new.
#ifndef IMGFILTER_HEAP_H
#define IMGFILTER_HEAP_H

#include <cstdlib>
#include <memory>

#include "common/huge_pages.h"

struct free_deleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

template <typename T>
using heap_ptr = std::unique_ptr<T, free_deleter>;

// malloc for count elements of T, or NULL when the size does not fit size_t.
// A request for zero elements still returns a distinct block, so an empty
// image never looks like a failed allocation.
template <typename T>
heap_ptr<T> heap_alloc(unsigned long long count) {
    if (count > static_cast<unsigned long long>(SIZE_MAX) / sizeof(T)) return heap_ptr<T>();
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(T);
    T* block = static_cast<T*>(std::malloc(bytes ? bytes : 1));
    if (block && bytes >= k_huge_page_block) advise_huge_pages(block, bytes);
    return heap_ptr<T>(block);
}

#endif
