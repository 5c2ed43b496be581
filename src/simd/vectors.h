// The vector kit of the fast paths: vectors of lanes pixels' values (GCC and
// Clang vector extensions) and the helpers that load, convert, look up and
// store them. Every helper gives each lane exactly what the plain loop gives
// its pixel; where an instruction set has a faster way, it is taken here.
#ifndef IMGFILTER_SIMD_VECTORS_H
#define IMGFILTER_SIMD_VECTORS_H

#include <cstddef>
#include <cstdint>

#include "common/image.h"
#include "simd/code_path.h"

// Vectors of lanes pixels' values (GCC and Clang vector extensions): the
// compiler maps them onto whatever registers the variant is compiled for.
template <typename T, int lanes>
struct vector_of {
    typedef T type __attribute__((vector_size(lanes * sizeof(T))));
};
template <int lanes>
using floats = typename vector_of<float, lanes>::type;
template <int lanes>
using ints = typename vector_of<int, lanes>::type;


// How many values past the end of a row a fast path may read or write: two
// vectors of the widest variant's lanes (a step takes up to two vectors of up
// to 32 values). Every buffer that a fast path sweeps in whole vectors keeps
// this much room after each row.
constexpr int k_row_tail = 64;

// An unaligned load of lanes consecutive values, as a vector of their type.
template <int lanes, typename T>
IMGFILTER_ALWAYS_INLINE typename vector_of<T, lanes>::type load_lanes(const T* p) {
    typename vector_of<T, lanes>::type v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

// The colour lanes of value and the alpha lanes (every fourth) of alpha, for
// lanes that hold interleaved RGBA pixels from a pixel's first byte on.
template <int lanes>
IMGFILTER_ALWAYS_INLINE ints<lanes> keep_alpha(ints<lanes> value, ints<lanes> alpha) {
    static_assert(lanes % 4 == 0, "whole pixels");
    ints<lanes> is_alpha = {};
    for (int lane = 3; lane < lanes; lane += 4) is_alpha[lane] = -1;
    return (value & ~is_alpha) | (alpha & is_alpha);
}

// Quarter q (0..3) of the lanes values, each repeated four times: the value
// of each of lanes / 4 pixels spread over the pixel's four interleaved bytes.
template <int lanes>
IMGFILTER_ALWAYS_INLINE floats<lanes> spread_quarter(floats<lanes> value, int q) {
    ints<lanes> index;
    for (int lane = 0; lane < lanes; ++lane) index[lane] = q * (lanes / 4) + lane / 4;
#if defined(__GNUC__) && !defined(__clang__)
    return __builtin_shuffle(value, index);
#else
    floats<lanes> spread;
    for (int lane = 0; lane < lanes; ++lane) spread[lane] = value[index[lane]];
    return spread;
#endif
}

// truncate_to_byte for each lane: truncation and clamping to 0..255 (NaN
// gives 0), as an int per lane.
template <int lanes>
IMGFILTER_ALWAYS_INLINE ints<lanes> truncate_bytes(floats<lanes> v) {
    const floats<lanes> zero = {};
    const floats<lanes> top = zero + 255.0f;
    floats<lanes> c = v >= 255.0f ? top : v;
    c = v >= 1.0f ? c : zero;
    return __builtin_convertvector(c, ints<lanes>);
}

// clamp_byte for each lane: + 0.5f, then truncation and clamping to 0..255
// (NaN gives 0), as an int per lane.
template <int lanes>
IMGFILTER_ALWAYS_INLINE ints<lanes> clamp_bytes(floats<lanes> value) {
    return truncate_bytes<lanes>(value + 0.5f);
}

template <int lanes>
using words = typename vector_of<unsigned, lanes>::type;

// Where each byte of an RGBA pixel lies in the pixel read as one 32-bit word.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr int k_red_shift = 24, k_green_shift = 16, k_blue_shift = 8, k_alpha_shift = 0;
#else
constexpr int k_red_shift = 0, k_green_shift = 8, k_blue_shift = 16, k_alpha_shift = 24;
#endif

// Writes the R, G and B bytes of the first count (at most lanes) pixels from
// the start of out, leaving their alpha bytes alone.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void store_colours(unsigned char* out, int count, ints<lanes> r, ints<lanes> g,
                                           ints<lanes> b) {
    if (count >= lanes) {
        // Whole pixels as words: the new colours beside the alpha bytes there.
        words<lanes> old;
        __builtin_memcpy(&old, out, sizeof old);
        const words<lanes> packed = (reinterpret_cast<words<lanes>>(r) << k_red_shift) |
                                    (reinterpret_cast<words<lanes>>(g) << k_green_shift) |
                                    (reinterpret_cast<words<lanes>>(b) << k_blue_shift) |
                                    (old & (0xFFu << k_alpha_shift));
        __builtin_memcpy(out, &packed, sizeof packed);
        return;
    }
    for (int lane = 0; lane < count; ++lane) {
        out[lane * 4 + 0] = static_cast<unsigned char>(r[lane]);
        out[lane * 4 + 1] = static_cast<unsigned char>(g[lane]);
        out[lane * 4 + 2] = static_cast<unsigned char>(b[lane]);
    }
}

// Asks for the cache line at offset bytes from p ahead of its use. Fast paths
// that read an image a row at a time, in order, ask for the same pixels of
// the next row as they read this one: the processor's own prefetching, which
// follows this row's stream only, leaves much of each row's first reading
// waiting for memory. The address is formed as a number because it may lie
// past the image, where a pointer may not point; a prefetch never faults.
IMGFILTER_ALWAYS_INLINE void prefetch_at(const void* p, std::size_t offset) {
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + offset));
}

// The R, G and B bytes of count pixels from in, as floats in three planes:
// each pixel read as one word, its bytes taken out by shifts, which costs
// far less than taking every fourth byte three times over. It asks for the
// next row's pixels on the way.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void split_colours(const unsigned char* in, int count, float* red, float* green, float* blue) {
    int x = 0;
    for (; x + lanes <= count; x += lanes) {
        prefetch_at(in, (static_cast<std::size_t>(count) + x) * 4);  // the next row
        words<lanes> w;
        __builtin_memcpy(&w, in + x * 4, sizeof w);
        const ints<lanes> r_bytes = reinterpret_cast<ints<lanes>>((w >> k_red_shift) & 0xFFu);
        const ints<lanes> g_bytes = reinterpret_cast<ints<lanes>>((w >> k_green_shift) & 0xFFu);
        const ints<lanes> b_bytes = reinterpret_cast<ints<lanes>>((w >> k_blue_shift) & 0xFFu);
        const floats<lanes> r = __builtin_convertvector(r_bytes, floats<lanes>);
        const floats<lanes> g = __builtin_convertvector(g_bytes, floats<lanes>);
        const floats<lanes> b = __builtin_convertvector(b_bytes, floats<lanes>);
        __builtin_memcpy(red + x, &r, sizeof r);
        __builtin_memcpy(green + x, &g, sizeof g);
        __builtin_memcpy(blue + x, &b, sizeof b);
    }
    for (; x < count; ++x) {
        red[x] = static_cast<float>(in[x * 4 + 0]);
        green[x] = static_cast<float>(in[x * 4 + 1]);
        blue[x] = static_cast<float>(in[x * 4 + 2]);
    }
}

// The truncated brightness (luma_int) of count pixels from in, each lane with
// luma's float operations in its order. It asks for the next row's pixels on
// the way.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void truncated_lumas(const unsigned char* in, int count, int* out) {
    int x = 0;
    for (; x + lanes <= count; x += lanes) {
        prefetch_at(in, (static_cast<std::size_t>(count) + x) * 4);  // the next row
        words<lanes> w;
        __builtin_memcpy(&w, in + x * 4, sizeof w);
        const floats<lanes> r =
            __builtin_convertvector(reinterpret_cast<ints<lanes>>((w >> k_red_shift) & 0xFFu), floats<lanes>);
        const floats<lanes> g =
            __builtin_convertvector(reinterpret_cast<ints<lanes>>((w >> k_green_shift) & 0xFFu), floats<lanes>);
        const floats<lanes> b =
            __builtin_convertvector(reinterpret_cast<ints<lanes>>((w >> k_blue_shift) & 0xFFu), floats<lanes>);
        const floats<lanes> red_green = 0.299f * r + 0.587f * g;
        const ints<lanes> luma = __builtin_convertvector(red_green + 0.114f * b, ints<lanes>);
        __builtin_memcpy(out + x, &luma, sizeof luma);
    }
    for (; x < count; ++x) out[x] = luma_int(in + x * 4);
}

// Writes grey into the R, G and B bytes of the first count (at most lanes)
// pixels from out, leaving their alpha bytes alone.
template <int lanes>
IMGFILTER_ALWAYS_INLINE void store_grey(unsigned char* out, int count, ints<lanes> grey) {
    if (count >= lanes) {
        // One multiplication copies each byte into the three colour places.
        constexpr unsigned spread = (1u << k_red_shift) | (1u << k_green_shift) | (1u << k_blue_shift);
        words<lanes> old;
        __builtin_memcpy(&old, out, sizeof old);
        const words<lanes> packed = (reinterpret_cast<words<lanes>>(grey) * spread) | (old & (0xFFu << k_alpha_shift));
        __builtin_memcpy(out, &packed, sizeof packed);
        return;
    }
    store_colours<lanes>(out, count, grey, grey, grey);
}



#if IMGFILTER_X86_VARIANTS
// Table look-ups with the processor's gather instruction, for the variants
// whose lane count matches; they are inlined into those variants only.
// Vectors go in and out through pointers: a wide vector passed by value to a
// function compiled for another instruction set changes the calling convention,
// which Clang refuses even where the call is inlined.
IMGFILTER_TARGET_AVX2 inline void gather_floats8(const float* table, const ints<8>* index, floats<8>* value) {
    *value = reinterpret_cast<floats<8>>(_mm256_i32gather_ps(table, reinterpret_cast<__m256i>(*index), 4));
}
IMGFILTER_TARGET_AVX512 inline void gather_floats16(const float* table, const ints<16>* index, floats<16>* value) {
    *value = reinterpret_cast<floats<16>>(
        _mm512_mask_i32gather_ps(_mm512_setzero_ps(), 0xFFFF, reinterpret_cast<__m512i>(*index), table, 4));
}
#endif

#if IMGFILTER_X86_VARIANTS
// Words gathered from 4-byte steps of a row, for the variants whose lane
// count matches.
IMGFILTER_TARGET_AVX2 inline void gather_words8(const unsigned char* row, const ints<8>* index, words<8>* value) {
    *value = reinterpret_cast<words<8>>(
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), reinterpret_cast<__m256i>(*index), 4));
}
IMGFILTER_TARGET_AVX512 inline void gather_words16(const unsigned char* row, const ints<16>* index, words<16>* value) {
    *value = reinterpret_cast<words<16>>(
        _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), 0xFFFF, reinterpret_cast<__m512i>(*index), row, 4));
}
#endif

#if IMGFILTER_X86_VARIANTS
// Whether v and mask share no set bit, in one test instruction.
IMGFILTER_TARGET_AVX2 inline bool no_common_bits8(const ints<8>* v, const ints<8>* mask) {
    return _mm256_testz_si256(reinterpret_cast<__m256i>(*v), reinterpret_cast<__m256i>(*mask));
}
IMGFILTER_TARGET_AVX512 inline bool no_common_bits16(const ints<16>* v, const ints<16>* mask) {
    return _mm512_test_epi32_mask(reinterpret_cast<__m512i>(*v), reinterpret_cast<__m512i>(*mask)) == 0;
}
#endif

#if IMGFILTER_X86_VARIANTS
// Tables of 32 and 16 entries in registers. With eight lanes each permute
// reaches eight entries by the index's low three bits; for 32 entries bits 3
// and 4, shifted into the sign bit, choose between the four results, for 16
// a comparison chooses between the two.
IMGFILTER_TARGET_AVX2 inline void look_up_32_floats8(const float* table, const ints<8>* index, floats<8>* value) {
    const __m256i i = reinterpret_cast<__m256i>(*index);
    const __m256 e0 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table), i);
    const __m256 e1 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + 8), i);
    const __m256 e2 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + 16), i);
    const __m256 e3 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + 24), i);
    const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(i, 28));
    const __m256 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(i, 27));
    const __m256 low = _mm256_blendv_ps(e0, e1, bit3);
    const __m256 high = _mm256_blendv_ps(e2, e3, bit3);
    *value = reinterpret_cast<floats<8>>(_mm256_blendv_ps(low, high, bit4));
}
IMGFILTER_TARGET_AVX2 inline void look_up_16_floats8(const float* table, const ints<8>* index, floats<8>* value) {
    const __m256i i = reinterpret_cast<__m256i>(*index);
    const __m256 e0 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table), i);
    const __m256 e1 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + 8), i);
    const __m256 upper = _mm256_castsi256_ps(_mm256_cmpgt_epi32(i, _mm256_set1_epi32(7)));
    *value = reinterpret_cast<floats<8>>(_mm256_blendv_ps(e0, e1, upper));
}
IMGFILTER_TARGET_AVX512 inline void look_up_16_floats16(const float* table, const ints<16>* index,
                                                        floats<16>* value) {
    // The masked form: the plain one starts from an undefined register, which
    // GCC warns of.
    *value = reinterpret_cast<floats<16>>(_mm512_maskz_permutexvar_ps(
        0xFFFF, reinterpret_cast<__m512i>(*index), _mm512_loadu_ps(table)));
}
IMGFILTER_TARGET_AVX512 inline void look_up_32_floats16(const float* table, const ints<16>* index,
                                                        floats<16>* value) {
    *value = reinterpret_cast<floats<16>>(_mm512_permutex2var_ps(
        _mm512_loadu_ps(table), reinterpret_cast<__m512i>(*index), _mm512_loadu_ps(table + 16)));
}
#endif

#if IMGFILTER_X86_VARIANTS
IMGFILTER_TARGET_AVX2 inline void sqrt_floats8(const floats<8>* v, floats<8>* root) {
    *root = reinterpret_cast<floats<8>>(_mm256_sqrt_ps(reinterpret_cast<__m256>(*v)));
}
IMGFILTER_TARGET_AVX512 inline void sqrt_floats16(const floats<16>* v, floats<16>* root) {
    *root = reinterpret_cast<floats<16>>(_mm512_maskz_sqrt_ps(0xFFFF, reinterpret_cast<__m512>(*v)));
}
#endif

// The correctly rounded square root of each lane, as sqrtf gives it.
template <int lanes>
IMGFILTER_ALWAYS_INLINE floats<lanes> square_root(floats<lanes> v) {
#if IMGFILTER_X86_VARIANTS
    if constexpr (lanes == 4) return reinterpret_cast<floats<4>>(_mm_sqrt_ps(reinterpret_cast<__m128>(v)));
    floats<lanes> root = {};
    if constexpr (lanes == 8) {
        sqrt_floats8(&v, &root);
        return root;
    }
    if constexpr (lanes == 16) {
        sqrt_floats16(&v, &root);
        return root;
    }
#else
    floats<lanes> root = {};  // every lane is set below; GCC cannot tell
#endif
    for (int lane = 0; lane < lanes; ++lane) root[lane] = __builtin_sqrtf(v[lane]);
    return root;
}

// table[index] for each lane.
template <int lanes>
IMGFILTER_ALWAYS_INLINE floats<lanes> look_up(const float* table, ints<lanes> index) {
#if IMGFILTER_X86_VARIANTS
    floats<lanes> value;
    if constexpr (lanes == 8) {
        gather_floats8(table, &index, &value);
        return value;
    }
    if constexpr (lanes == 16) {
        gather_floats16(table, &index, &value);
        return value;
    }
#else
    floats<lanes> value;
#endif
    for (int lane = 0; lane < lanes; ++lane) value[lane] = table[index[lane]];
    return value;
}

// The pixels of a row at the columns x (each within the row), each read as
// one 32-bit word: lane i holds pixel x[i].
template <int lanes>
IMGFILTER_ALWAYS_INLINE words<lanes> load_pixels_at(const unsigned char* row, ints<lanes> x) {
    words<lanes> value;
#if IMGFILTER_X86_VARIANTS
    if constexpr (lanes == 8) {
        gather_words8(row, &x, &value);
        return value;
    }
    if constexpr (lanes == 16) {
        gather_words16(row, &x, &value);
        return value;
    }
#endif
    for (int lane = 0; lane < lanes; ++lane) {
        unsigned word;
        __builtin_memcpy(&word, row + static_cast<std::size_t>(x[lane]) * 4, sizeof word);
        value[lane] = word;
    }
    return value;
}

// True when no lane of v has a bit of mask set.
template <int lanes>
IMGFILTER_ALWAYS_INLINE bool no_common_bits(ints<lanes> v, ints<lanes> mask) {
#if IMGFILTER_X86_VARIANTS
    if constexpr (lanes == 8) return no_common_bits8(&v, &mask);
    if constexpr (lanes == 16) return no_common_bits16(&v, &mask);
#endif
    int any = 0;
    for (int lane = 0; lane < lanes; ++lane) any |= v[lane] & mask[lane];
    return any == 0;
}

// table[index] for each lane, for indices below entries (16 or 32), exactly
// as look_up gives it: the table is held in registers and each lane picks its
// entry with permutes, several times faster than a gather.
template <int lanes, int entries>
IMGFILTER_ALWAYS_INLINE floats<lanes> look_up_small(const float* table, ints<lanes> index) {
    static_assert(entries == 16 || entries == 32, "one or two registers' worth");
    floats<lanes> value;
#if IMGFILTER_X86_VARIANTS
    if constexpr (lanes == 8) {
        if constexpr (entries == 16) look_up_16_floats8(table, &index, &value);
        else look_up_32_floats8(table, &index, &value);
        return value;
    }
    if constexpr (lanes == 16) {
        if constexpr (entries == 16) look_up_16_floats16(table, &index, &value);
        else look_up_32_floats16(table, &index, &value);
        return value;
    }
#endif
    for (int lane = 0; lane < lanes; ++lane) value[lane] = table[index[lane]];
    return value;
}


#endif
