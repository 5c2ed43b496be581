// The encoder goes down the image a row of blocks at a time and across it a
// group of blocks at a time, one block per vector lane: a vector holds the same
// value (pixel, then coefficient) of neighbouring blocks, so each step of the
// conversion and the transform is one vector operation doing what the scalar
// writer does to each block, with nothing to move between lanes. The groups'
// quantised coefficients then go to the Huffman coder block by block.
#include "encode/jpeg_encoder.h"

#include <cstdint>

#include "encode/encoder_bounds.h"
#include "encode/jpeg_entropy_coder.h"
#include "encode/jpeg_tables.h"
#include "simd/vectors.h"

namespace {

// The most blocks of a group, those of the AVX-512 variant.
constexpr int k_max_lanes = 16;

template <int lanes>
using masks = typename vector_of<unsigned long long, lanes>::type;

// All the encoder's memory, in one block of the C heap.
struct jpeg_encoding {
    jpeg_entropy_coder coder;
    jpeg_huffman_tables luma_codes, chroma_codes;
    float factors[2][64];  // luma, chroma
    int predictors[3];
    // A group's blocks of Y, Cb and Cr after the row transforms, then their
    // quantised coefficients (in zigzag order) and which are not 0; value k of
    // lane b lies at [k * lanes + b].
    float blocks[3][64 * k_max_lanes];
    std::int32_t coefficients[3][64 * k_max_lanes];
    unsigned long long nonzero[3][k_max_lanes];
};

// The scaled one-dimensional transform of eight values, d[0..7], in place,
// each lane on its own.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void transform_8(floats<lanes>* d) {
    const floats<lanes> tmp0 = d[0] + d[7];
    const floats<lanes> tmp7 = d[0] - d[7];
    const floats<lanes> tmp1 = d[1] + d[6];
    const floats<lanes> tmp6 = d[1] - d[6];
    const floats<lanes> tmp2 = d[2] + d[5];
    const floats<lanes> tmp5 = d[2] - d[5];
    const floats<lanes> tmp3 = d[3] + d[4];
    const floats<lanes> tmp4 = d[3] - d[4];

    // The even half.
    const floats<lanes> even10 = tmp0 + tmp3;
    const floats<lanes> even13 = tmp0 - tmp3;
    const floats<lanes> even11 = tmp1 + tmp2;
    const floats<lanes> even12 = tmp1 - tmp2;
    d[0] = even10 + even11;
    d[4] = even10 - even11;
    const floats<lanes> z1 = (even12 + even13) * 0.707106781f;
    d[2] = even13 + z1;
    d[6] = even13 - z1;

    // The odd half, its rotation arranged to need no negation.
    const floats<lanes> odd10 = tmp4 + tmp5;
    const floats<lanes> odd11 = tmp5 + tmp6;
    const floats<lanes> odd12 = tmp6 + tmp7;
    const floats<lanes> z5 = (odd10 - odd12) * 0.382683433f;
    const floats<lanes> z2 = odd10 * 0.541196100f + z5;
    const floats<lanes> z4 = odd12 * 1.306562965f + z5;
    const floats<lanes> z3 = odd11 * 0.707106781f;
    const floats<lanes> z11 = tmp7 + z3;
    const floats<lanes> z13 = tmp7 - z3;
    d[5] = z13 + z2;
    d[3] = z13 - z2;
    d[1] = z11 + z4;
    d[7] = z11 - z4;
}

template <int lanes>
IMGFILTER_ALWAYS_INLINE void store_lanes(float* at, floats<lanes> value) {
    __builtin_memcpy(at, &value, sizeof value);
}

// The byte at shift of each lane's pixel, as a float.
template <int lanes>
IMGFILTER_ALWAYS_INLINE floats<lanes> byte_values(words<lanes> pixel, int shift) {
    return __builtin_convertvector(reinterpret_cast<ints<lanes>>((pixel >> shift) & 0xFFu), floats<lanes>);
}

// Row r of the group's blocks: the pixels converted to Y, Cb and Cr and
// transformed along the row. Lane b's column c is pixel first_x + 8b + c,
// clamped to the last column as the writer clamps it.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void convert_row(const unsigned char* row, int first_x, int last_x, int r,
                                         jpeg_encoding* e) {
    // The next group's pixels of this row, asked for now: each of its first
    // loads would otherwise wait for memory.
    const std::size_t group_bytes = 8 * lanes * 4;
    for (std::size_t line = 0; line < group_bytes; line += 64)
        prefetch_at(row, static_cast<std::size_t>(first_x) * 4 + group_bytes + line);
    ints<lanes> x = {};
    for (int lane = 0; lane < lanes; ++lane) x[lane] = first_x + 8 * lane;
    const ints<lanes> last = ints<lanes>{} + last_x;
    floats<lanes> y[8], cb[8], cr[8];
    for (int c = 0; c < 8; ++c, x += 1) {
        const words<lanes> pixel = load_pixels_at<lanes>(row, x < last ? x : last);
        const floats<lanes> red = byte_values<lanes>(pixel, k_red_shift);
        const floats<lanes> green = byte_values<lanes>(pixel, k_green_shift);
        const floats<lanes> blue = byte_values<lanes>(pixel, k_blue_shift);
        y[c] = 0.29900f * red + 0.58700f * green + 0.11400f * blue - 128.0f;
        cb[c] = -0.16874f * red - 0.33126f * green + 0.50000f * blue;
        cr[c] = 0.50000f * red - 0.41869f * green - 0.08131f * blue;
    }
    transform_8<lanes>(y);
    transform_8<lanes>(cb);
    transform_8<lanes>(cr);
    for (int c = 0; c < 8; ++c) {
        store_lanes<lanes>(e->blocks[0] + (r * 8 + c) * lanes, y[c]);
        store_lanes<lanes>(e->blocks[1] + (r * 8 + c) * lanes, cb[c]);
        store_lanes<lanes>(e->blocks[2] + (r * 8 + c) * lanes, cr[c]);
    }
}

// The column transforms of one component's blocks, then the quantisation:
// each coefficient times its factor, rounded half away from zero by adding
// or taking 0.5 and truncating, as the writer rounds.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void transform_columns(int component, const float* factors, jpeg_encoding* e) {
    const float* block = e->blocks[component];
    std::int32_t* out = e->coefficients[component];
    masks<lanes> nonzero = {};
    for (int c = 0; c < 8; ++c) {
        floats<lanes> d[8];
        for (int r = 0; r < 8; ++r) d[r] = load_lanes<lanes>(block + (r * 8 + c) * lanes);
        transform_8<lanes>(d);
        for (int r = 0; r < 8; ++r) {
            const int zigzag = k_jpeg_zigzag[r * 8 + c];
            const floats<lanes> v = d[r] * factors[r * 8 + c];
            const ints<lanes> q = __builtin_convertvector(v < 0.0f ? v - 0.5f : v + 0.5f, ints<lanes>);
            __builtin_memcpy(out + zigzag * lanes, &q, sizeof q);
            nonzero |= __builtin_convertvector(q != 0, masks<lanes>) & (1ull << zigzag);
        }
    }
    __builtin_memcpy(e->nonzero[component], &nonzero, sizeof nonzero);
}

// Every block of the image, a row of blocks at a time; rows and columns past
// the image repeat its last ones. Stops after a row of blocks once the sink
// has failed.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void encode_blocks_body(const filter_image* image, jpeg_encoding* e) {
    const int width = image->width;
    const int height = image->height;
    const int blocks_across = (width + 7) / 8;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int top = 0; top < height; top += 8) {
        const unsigned char* rows[8];
        for (int r = 0; r < 8; ++r)
            rows[r] = image->pixels + static_cast<std::size_t>(top + r < height ? top + r : height - 1) * stride;
        for (int first = 0; first < blocks_across; first += lanes) {
            for (int r = 0; r < 8; ++r) convert_row<lanes>(rows[r], first * 8, width - 1, r, e);
            transform_columns<lanes>(0, e->factors[0], e);
            transform_columns<lanes>(1, e->factors[1], e);
            transform_columns<lanes>(2, e->factors[1], e);
            const int count = blocks_across - first < lanes ? blocks_across - first : lanes;
            for (int b = 0; b < count; ++b) {
                for (int component = 0; component < 3; ++component)
                    e->coder.code_block(e->coefficients[component] + b, lanes, e->nonzero[component][b],
                                        &e->predictors[component], component ? e->chroma_codes : e->luma_codes);
            }
        }
        if (e->coder.sink_failed()) return;
    }
}

IMGFILTER_VARIANTS(encode_blocks, (const filter_image* image, jpeg_encoding* e), (image, e), 4, 8, 16)

void put_huffman_table(jpeg_entropy_coder* coder, unsigned char id, const jpeg_huffman_spec& spec) {
    coder->put_bytes(&id, 1);
    coder->put_bytes(spec.counts, 16);
    coder->put_bytes(spec.symbols, spec.symbol_count);
}

// The file up to the coded blocks: start of image, a JFIF header (version
// 1.1, no density), both quantisation tables, the frame (8-bit samples, three
// components unsubsampled, Y on table 0, Cb and Cr on table 1), all four
// Huffman tables in one segment and the start of the one scan.
void put_headers(jpeg_entropy_coder* coder, int width, int height, const unsigned char luma[64],
                 const unsigned char chroma[64]) {
    static const unsigned char start[] = {0xFF, 0xD8, 0xFF, 0xE0, 0,    0x10, 'J', 'F', 'I',  'F', 0,   1, 1,
                                          0,    0,    1,    0,    1,    0,    0,   0xFF, 0xDB, 0,   0x84, 0};
    coder->put_bytes(start, sizeof start);
    coder->put_bytes(luma, 64);
    const unsigned char chroma_id = 1;
    coder->put_bytes(&chroma_id, 1);
    coder->put_bytes(chroma, 64);
    const unsigned char frame[] = {0xFF, 0xC0, 0, 0x11, 8, static_cast<unsigned char>(height >> 8),
                                   static_cast<unsigned char>(height), static_cast<unsigned char>(width >> 8),
                                   static_cast<unsigned char>(width), 3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1,
                                   0xFF, 0xC4, 0x01, 0xA2};
    coder->put_bytes(frame, sizeof frame);
    put_huffman_table(coder, 0x00, k_luma_dc_spec);
    put_huffman_table(coder, 0x10, k_luma_ac_spec);
    put_huffman_table(coder, 0x01, k_chroma_dc_spec);
    put_huffman_table(coder, 0x11, k_chroma_ac_spec);
    static const unsigned char scan[] = {0xFF, 0xDA, 0, 0xC, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
    coder->put_bytes(scan, sizeof scan);
}

}  // namespace

bool encode_jpeg(const filter_image& image, byte_sink* sink) {
    return encode_jpeg_with(image, sink, fastest_code_path());
}

bool encode_jpeg_with(const filter_image& image, byte_sink* sink, code_path path) {
    if (!image.pixels || !encodable(image_format::jpeg, image.width, image.height)) return false;
    heap_ptr<jpeg_encoding> memory = heap_alloc<jpeg_encoding>(1);
    if (!memory) return false;
    jpeg_encoding* e = memory.get();
    unsigned char luma[64], chroma[64];
    quality_92_quantisers(luma, chroma);
    quantiser_factors(luma, e->factors[0]);
    quantiser_factors(chroma, e->factors[1]);
    build_huffman_codes(k_luma_dc_spec, e->luma_codes.dc);
    build_huffman_codes(k_luma_ac_spec, e->luma_codes.ac);
    build_huffman_codes(k_chroma_dc_spec, e->chroma_codes.dc);
    build_huffman_codes(k_chroma_ac_spec, e->chroma_codes.ac);
    e->predictors[0] = e->predictors[1] = e->predictors[2] = 0;

    e->coder.start(sink);
    put_headers(&e->coder, image.width, image.height, luma, chroma);
    encode_blocks_for(path)(&image, e);
    e->coder.finish_bits();
    static const unsigned char end[] = {0xFF, 0xD9};
    e->coder.put_bytes(end, sizeof end);
    e->coder.flush();
    return true;
}
