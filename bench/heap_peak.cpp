#include "heap_peak.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

// The C library's allocator under its internal names, which stay reachable
// when the public names are replaced.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<long long> s_held{0};
std::atomic<long long> s_peak{0};
std::atomic<long long> s_base{0};

// Usable sizes rather than requested ones: free() knows only the former.
void count_in(void* block) {
    if (!block) return;
    const long long size = static_cast<long long>(malloc_usable_size(block));
    const long long now = s_held.fetch_add(size) + size;
    long long peak = s_peak.load();
    while (now > peak && !s_peak.compare_exchange_weak(peak, now)) {
    }
}

void count_out(void* block) {
    if (block) s_held.fetch_sub(static_cast<long long>(malloc_usable_size(block)));
}

}  // namespace

void heap_peak_reset() {
    const long long now = s_held.load();
    s_base.store(now);
    s_peak.store(now);
}

long long heap_peak_bytes() { return s_peak.load() - s_base.load(); }

extern "C" {

void* malloc(std::size_t size) {
    void* block = __libc_malloc(size);
    count_in(block);
    return block;
}

void* calloc(std::size_t count, std::size_t size) {
    void* block = __libc_calloc(count, size);
    count_in(block);
    return block;
}

void* realloc(void* block, std::size_t size) {
    const long long before = block ? static_cast<long long>(malloc_usable_size(block)) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved) {
        s_held.fetch_sub(before);
        count_in(moved);
    } else if (size == 0) {
        s_held.fetch_sub(before);  // realloc(block, 0) freed it
    }
    return moved;
}

void free(void* block) {
    count_out(block);
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) {
    void* block = __libc_memalign(alignment, size);
    count_in(block);
    return block;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = memalign(alignment, size);
    if (!block) return ENOMEM;
    *out = block;
    return 0;
}

}  // extern "C"
