#include "encode/png_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "encode/png_deflate.h"
#include "simd/vectors.h"

namespace {

constexpr int k_filters = 5;  // none, sub, up, average, Paeth
constexpr int k_pixel = 4;    // bytes of a pixel: the left neighbour's distance

// A row's filtered bytes take each byte x with its left neighbour a, the byte
// above b and the one above the left neighbour c, all 0 where they lie outside
// the image. (The writer maps the first row's up, average and Paeth filters
// onto none, half the left byte and the left byte, which is what these give
// with a row of zeros above.)
unsigned paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return static_cast<unsigned>(a);
    return static_cast<unsigned>(pb <= pc ? b : c);
}

unsigned char filtered(int filter, int x, int a, int b, int c) {
    switch (filter) {
        case 0: return static_cast<unsigned char>(x);
        case 1: return static_cast<unsigned char>(x - a);
        case 2: return static_cast<unsigned char>(x - b);
        case 3: return static_cast<unsigned char>(x - ((a + b) >> 1));
        default: return static_cast<unsigned char>(x - static_cast<int>(paeth(a, b, c)));
    }
}

// The byte's weight in a filter's estimate: its magnitude taken as signed.
unsigned weight(unsigned char byte) { return static_cast<unsigned>(std::abs(static_cast<signed char>(byte))); }

template <int lanes>
using shorts = typename vector_of<int16_t, lanes>::type;
template <int lanes>
using bytes = typename vector_of<uint8_t, lanes>::type;

template <int lanes>
IMGFILTER_ALWAYS_INLINE shorts<lanes> widened(const unsigned char* p) {
    return __builtin_convertvector(load_lanes<lanes>(p), shorts<lanes>);
}

// Comparisons, selections and magnitudes by masks and shifts, which every
// variant keeps in vector registers (the compiler takes conditional
// expressions and some comparisons of 16-bit vectors apart lane by lane).
template <int lanes>
IMGFILTER_ALWAYS_INLINE shorts<lanes> absolute(shorts<lanes> v) {
    const shorts<lanes> sign = v >> 15;
    return (v ^ sign) - sign;
}

// All ones where x <= y, for values whose difference fits 16 bits.
template <int lanes>
IMGFILTER_ALWAYS_INLINE shorts<lanes> at_most(shorts<lanes> x, shorts<lanes> y) {
    return ~((y - x) >> 15);
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE shorts<lanes> choose(shorts<lanes> mask, shorts<lanes> yes, shorts<lanes> no) {
    return (yes & mask) | (no & ~mask);
}

// The weight of the filtered byte in the low half of each lane.
template <int lanes>
IMGFILTER_ALWAYS_INLINE shorts<lanes> magnitude(shorts<lanes> v) {
    const shorts<lanes> byte = v & 0xFF;
    return absolute<lanes>(byte - ((byte & 0x80) << 1));  // the byte as signed
}

// One filter's bytes of lanes consecutive positions from i (at least one
// pixel in, so that the left neighbours are in the row), widened.
template <int lanes, int filter>
IMGFILTER_ALWAYS_INLINE shorts<lanes> filtered_lanes(const unsigned char* row, const unsigned char* above, int i) {
    const shorts<lanes> x = widened<lanes>(row + i);
    if (filter == 0) return x;
    const shorts<lanes> a = widened<lanes>(row + i - k_pixel);
    if (filter == 1) return x - a;
    const shorts<lanes> b = widened<lanes>(above + i);
    if (filter == 2) return x - b;
    if (filter == 3) return x - ((a + b) >> 1);
    const shorts<lanes> c = widened<lanes>(above + i - k_pixel);
    const shorts<lanes> pa = absolute<lanes>(b - c), pb = absolute<lanes>(a - c), pc = absolute<lanes>(a + b - c - c);
    const shorts<lanes> b_or_c = choose<lanes>(at_most<lanes>(pb, pc), b, c);
    return x - choose<lanes>(at_most<lanes>(pa, pb) & at_most<lanes>(pa, pc), a, b_or_c);
}

// The writer's choice for one row: the filter with the smallest estimate, the
// first of equals. The estimates are the writer's int sums, wrapping as its
// arithmetic does on rows too long for them.
template <int lanes>
IMGFILTER_ALWAYS_INLINE int best_filter(const unsigned char* row, const unsigned char* above, int length) {
    uint32_t sum[k_filters] = {};
    int i = 0;
    for (; i < k_pixel && i < length; ++i) {
        for (int f = 0; f < k_filters; ++f) sum[f] += weight(filtered(f, row[i], 0, above[i], 0));
    }
    // Each lane adds at most 128 a step; 255 steps stay within 16 bits.
    constexpr int k_steps = 255;
    while (i + lanes <= length) {
        shorts<lanes> partial[k_filters] = {};
        for (int step = 0; step < k_steps && i + lanes <= length; ++step, i += lanes) {
            partial[0] += magnitude<lanes>(filtered_lanes<lanes, 0>(row, above, i));
            partial[1] += magnitude<lanes>(filtered_lanes<lanes, 1>(row, above, i));
            partial[2] += magnitude<lanes>(filtered_lanes<lanes, 2>(row, above, i));
            partial[3] += magnitude<lanes>(filtered_lanes<lanes, 3>(row, above, i));
            partial[4] += magnitude<lanes>(filtered_lanes<lanes, 4>(row, above, i));
        }
        for (int f = 0; f < k_filters; ++f) {
            for (int lane = 0; lane < lanes; ++lane) sum[f] += static_cast<uint16_t>(partial[f][lane]);
        }
    }
    for (; i < length; ++i) {
        for (int f = 0; f < k_filters; ++f)
            sum[f] += weight(filtered(f, row[i], row[i - k_pixel], above[i], above[i - k_pixel]));
    }
    int best = 0;
    int32_t best_sum = INT32_MAX;
    for (int f = 0; f < k_filters; ++f) {
        const int32_t estimate = static_cast<int32_t>(sum[f]);
        if (estimate < best_sum) {
            best_sum = estimate;
            best = f;
        }
    }
    return best;
}

template <int lanes, int filter>
IMGFILTER_ALWAYS_INLINE void apply_filter(const unsigned char* row, const unsigned char* above, int length,
                                          unsigned char* out) {
    int i = 0;
    for (; i < k_pixel && i < length; ++i) out[i] = filtered(filter, row[i], 0, above[i], 0);
    for (; i + lanes <= length; i += lanes) {
        const bytes<lanes> result = __builtin_convertvector(filtered_lanes<lanes, filter>(row, above, i), bytes<lanes>);
        __builtin_memcpy(out + i, &result, sizeof result);
    }
    for (; i < length; ++i) out[i] = filtered(filter, row[i], row[i - k_pixel], above[i], above[i - k_pixel]);
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void apply_filter(int filter, const unsigned char* row, const unsigned char* above,
                                          int length, unsigned char* out) {
    switch (filter) {
        case 0: std::memcpy(out, row, static_cast<std::size_t>(length)); break;
        case 1: apply_filter<lanes, 1>(row, above, length, out); break;
        case 2: apply_filter<lanes, 2>(row, above, length, out); break;
        case 3: apply_filter<lanes, 3>(row, above, length, out); break;
        default: apply_filter<lanes, 4>(row, above, length, out); break;
    }
}

// A row as the writer hands it to deflate: its filter's number, then its
// filtered bytes. above is the row above, or a row of zeros for the first.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void filter_row_body(const unsigned char* row, const unsigned char* above, int length,
                                             unsigned char* out) {
    const int filter = best_filter<lanes>(row, above, length);
    out[0] = static_cast<unsigned char>(filter);
    apply_filter<lanes>(filter, row, above, length, out + 1);
}

IMGFILTER_VARIANTS(filter_row, (const unsigned char* row, const unsigned char* above, int length, unsigned char* out),
                   (row, above, length, out), 8, 16, 32)

// The filtered rows, made one at a time as the compressor reads them, so that
// they are never held whole.
class filtered_rows final : public deflate_source {
public:
    filtered_rows(const filter_image& image, code_path path)
        : image_(image), length_(image.width * 4), filter_(filter_row_for(path)) {}

    bool prepare() {
        zeros_.reset(static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(length_), 1)));
        line_ = heap_alloc<unsigned char>(static_cast<unsigned long long>(length_) + 1);
        return zeros_ && line_;
    }

    void read(unsigned char* to, std::size_t count) override {
        while (count > 0) {
            if (used_ == length_ + 1) next_line();
            const std::size_t piece = std::min(count, static_cast<std::size_t>(length_ + 1 - used_));
            std::memcpy(to, line_.get() + used_, piece);
            to += piece;
            count -= piece;
            used_ += static_cast<int>(piece);
        }
    }

    void rewind() override {
        y_ = 0;
        used_ = length_ + 1;
    }

private:
    void next_line() {
        const unsigned char* row = image_.pixels + static_cast<std::size_t>(y_) * length_;
        filter_(row, y_ > 0 ? row - length_ : zeros_.get(), length_, line_.get());
        ++y_;
        used_ = 0;
    }

    const filter_image& image_;
    const int length_;
    decltype(&filter_row_portable) filter_;
    heap_ptr<unsigned char> zeros_;
    heap_ptr<unsigned char> line_;
    int y_ = 0;
    int used_ = length_ + 1;  // of the line made last; all of it: none made yet
};

// CRC-32 as PNG chunks carry it, eight bytes a step.
struct crc_tables {
    uint32_t table[8][256];
};

constexpr crc_tables make_crc_tables() {
    crc_tables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t.table[0][n] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t previous = t.table[k - 1][n];
            t.table[k][n] = (previous >> 8) ^ t.table[0][previous & 0xFF];
        }
    }
    return t;
}

constexpr crc_tables k_crc = make_crc_tables();

uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// crc is the running value, ~0 before the first byte; the chunk's is its ~.
uint32_t crc_update(uint32_t crc, const unsigned char* p, std::size_t n) {
    const auto& t = k_crc.table;
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t low = crc ^ le32(p), high = le32(p + 4);
        crc = t[7][low & 0xFF] ^ t[6][low >> 8 & 0xFF] ^ t[5][low >> 16 & 0xFF] ^ t[4][low >> 24] ^ t[3][high & 0xFF] ^
              t[2][high >> 8 & 0xFF] ^ t[1][high >> 16 & 0xFF] ^ t[0][high >> 24];
    }
    for (; n > 0; --n, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

unsigned char* put_be32(unsigned char* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) *out++ = static_cast<unsigned char>(value >> shift);
    return out;
}

// A chunk's length and type; the CRC covers the type and the data after it.
unsigned char* start_chunk(unsigned char* out, uint32_t length, const char* type) {
    out = put_be32(out, length);
    std::memcpy(out, type, 4);
    return out + 4;
}

unsigned char* end_chunk(unsigned char* out, uint32_t crc) { return put_be32(out, ~crc); }

}  // namespace

bool encode_png_with(const filter_image& image, byte_sink* sink, code_path path) {
    const int width = image.width, height = image.height;
    filtered_rows rows(image, path);
    if (!rows.prepare()) return false;
    int compressed_length = 0;
    // The writer's default compression level.
    const heap_ptr<unsigned char> compressed = png_deflate(rows, (width * 4 + 1) * height, k_png_compression_level, &compressed_length);
    if (!compressed) return false;

    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    unsigned char head[8 + 25 + 8];
    std::memcpy(head, signature, 8);
    unsigned char* header = start_chunk(head + 8, 13, "IHDR");
    unsigned char* out = put_be32(put_be32(header, static_cast<uint32_t>(width)), static_cast<uint32_t>(height));
    const unsigned char format[5] = {8, 6, 0, 0, 0};  // 8 bits, RGBA, deflate, standard filters, not interlaced
    std::memcpy(out, format, 5);
    out = end_chunk(out + 5, crc_update(~0u, header - 4, 17));
    unsigned char* data_type = start_chunk(out, static_cast<uint32_t>(compressed_length), "IDAT") - 4;
    uint32_t crc = crc_update(~0u, data_type, 4);
    crc = crc_update(crc, compressed.get(), static_cast<std::size_t>(compressed_length));
    unsigned char tail[4 + 12];
    unsigned char* end = start_chunk(end_chunk(tail, crc), 0, "IEND");
    end = end_chunk(end, crc_update(~0u, end - 4, 4));

    if (!sink->failed) sink->write(sink, head, static_cast<int>(sizeof head));
    if (!sink->failed) sink->write(sink, compressed.get(), compressed_length);
    if (!sink->failed) sink->write(sink, tail, static_cast<int>(end - tail));
    return true;
}

bool encode_png(const filter_image& image, byte_sink* sink) {
    return encode_png_with(image, sink, fastest_code_path());
}
