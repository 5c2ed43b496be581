#include "decode/codec_allocator.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/huge_pages.h"

// The scope of the decode under way on this thread. The library keeps no state
// between calls: the pointer is set by the decode call that owns the scope (its
// own stack frame) and reset before that call returns, so between calls it is
// NULL. Per thread, because calls on different threads run at the same time.
static thread_local imgfilter_decode_scope* s_decode_scope = nullptr;

namespace {

// Dimensions above the decoder's own limit (2^24 a side) are refused by it
// before it allocates anything that depends on them.
constexpr unsigned long long k_largest_side = 1ull << 24;
// The largest JPEG block of pixels a component is stored in (a minimum coded
// unit with sampling factors of 4): the decoder sizes its planes in whole units.
constexpr unsigned long long k_jpeg_unit = 32;

unsigned long long side(long long value, bool jpeg) {
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    if (magnitude > k_largest_side) magnitude = k_largest_side;
    if (jpeg) magnitude = (magnitude + k_jpeg_unit - 1) / k_jpeg_unit * k_jpeg_unit;
    return magnitude;
}

// Charges a request to the decode under way; false when it would pass the budget.
bool take_from_budget(std::size_t bytes) {
    imgfilter_decode_scope* scope = s_decode_scope;
    if (!scope) return true;  // the decoder called outside the library's decode: unbounded
    if (bytes > scope->budget - scope->obtained) return false;
    scope->obtained += bytes;
    return true;
}

// The decoded image and the decoder's planes are the call's largest blocks;
// they get the same huge-page advice as the library's own (common/heap.h),
// given before the decoder first writes them.
void* advised(void* block, std::size_t size) {
    if (block && size >= k_huge_page_block) advise_huge_pages(block, size);
    return block;
}

}  // namespace

// What one decode may obtain, counted as every byte it is given: each new block
// whole and each realloc's growth, nothing given back on free (which does not
// know the size). That is at least what it holds at any moment, so this also
// bounds what it holds at once:
//
//   16 x P + 4 x L + 1 MiB, with P = width x height x 4 and L the file length.
//
// The costliest valid files need well under it (measured): a 16-bit
// interlaced RGBA PNG about 9 P (the inflated data, the 16-bit image and its
// seven passes, the 8-bit image) besides its compressed data, which the
// decoder gathers from its chunks into a buffer of up to 2 L; a 16-bit grey one
// 5 P; a progressive JPEG at most about 3.3 P, counted on its dimensions
// rounded up to whole 32-pixel units (its planes are sized in whole units, so
// a narrow image would otherwise need many times its P). The 1 MiB covers the
// decoder's fixed tables, which small images never pass. What the header does
// not declare, it cannot obtain: a PNG whose data inflates far beyond its
// declared size fails with "outofmem" once the budget is spent, instead of
// growing to gigabytes; a header that cannot be read allows only 4 L + 1 MiB.
unsigned long long imgfilter_decode_budget(int jpeg, long long width, long long height, long long file_length) {
    const unsigned long long pixels = side(width, jpeg != 0) * side(height, jpeg != 0);
    const unsigned long long length = file_length > 0 ? static_cast<unsigned long long>(file_length) : 0;
    return 16 * 4 * pixels + 4 * length + (1ull << 20);
}

void imgfilter_decode_enter(imgfilter_decode_scope* scope, unsigned long long budget) {
    scope->budget = budget;
    scope->obtained = 0;
    scope->outer = s_decode_scope;
    s_decode_scope = scope;
}

void imgfilter_decode_leave(imgfilter_decode_scope* scope) { s_decode_scope = scope->outer; }

// A request of 0 bytes (the empty image of a BMP of width 0) still gets a
// distinct block, which the decoder takes for success.
void* imgfilter_decoder_malloc(std::size_t size) {
    if (!take_from_budget(size)) return nullptr;
    return advised(std::calloc(size ? size : 1, 1), size);
}

void* imgfilter_decoder_realloc(void* block, std::size_t old_size, std::size_t new_size) {
    const std::size_t growth = new_size > old_size ? new_size - old_size : 0;
    if (!take_from_budget(growth)) return nullptr;
    unsigned char* grown = static_cast<unsigned char*>(advised(std::realloc(block, new_size ? new_size : 1), new_size));
    if (grown && growth) std::memset(grown + old_size, 0, growth);
    return grown;
}

void imgfilter_decoder_free(void* block) { std::free(block); }
