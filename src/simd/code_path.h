// How a filter's pixel loop is run. Every filter keeps its plain loop as the
// reference and has a fast path that must give the same bytes; the fast path is
// compiled once per instruction set and the best one the processor has is taken
// at run time, so one build runs on any x86-64 and uses AVX2 or AVX-512 where
// they exist. Other architectures compile the portable variant only, and so
// does a build with IMGFILTER_NO_SIMD defined (CMake's IMGFILTER_PORTABLE_ONLY):
// one with no code for an instruction set beyond the compiler's baseline.
//
// A fast path is written once, as an always-inline body in plain C++ (loops over
// pixels and GCC/Clang vector types), and IMGFILTER_VARIANTS stamps it out in
// functions compiled for each instruction set. Lanes always hold different
// pixels, never different terms of one pixel's sum, so every lane performs the
// reference's rounded operations in the reference's order.
#ifndef IMGFILTER_SIMD_CODE_PATH_H
#define IMGFILTER_SIMD_CODE_PATH_H

// Narrowest first: a processor that has a variant has every narrower one.
enum class code_path { reference, portable, avx2, avx512 };

// True when this build has the path and the processor can run it.
bool code_path_available(code_path path);

// The fastest available path; what the workers use.
code_path fastest_code_path();

#if defined(__GNUC__)
#  define IMGFILTER_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#  define IMGFILTER_ALWAYS_INLINE inline
#endif

#if defined(__GNUC__) && defined(__x86_64__) && !defined(IMGFILTER_NO_SIMD)
#  include <immintrin.h>
#  define IMGFILTER_X86_VARIANTS 1
// AVX-512 with byte/word and vector-length extensions, as on every processor
// that has AVX-512 at all apart from the first Xeon Phi.
#  define IMGFILTER_TARGET_AVX2 __attribute__((target("avx2")))
#  define IMGFILTER_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq")))
#  define IMGFILTER_X86_VARIANT_DEFS(name, params, args, lanes_avx2, lanes_avx512) \
    IMGFILTER_TARGET_AVX2 void name##_avx2 params { name##_body<lanes_avx2> args; }  \
    IMGFILTER_TARGET_AVX512 void name##_avx512 params { name##_body<lanes_avx512> args; }
#  define IMGFILTER_X86_VARIANT_CASES(name) \
    case code_path::avx2:                   \
        return name##_avx2;                 \
    case code_path::avx512:                 \
        return name##_avx512;
#else
#  define IMGFILTER_X86_VARIANTS 0
#  define IMGFILTER_X86_VARIANT_DEFS(name, params, args, lanes_avx2, lanes_avx512)
#  define IMGFILTER_X86_VARIANT_CASES(name)
#endif

// Defines name_portable (and on x86 name_avx2, name_avx512) from the template
// `template <int lanes> IMGFILTER_ALWAYS_INLINE void name_body params`, where
// lanes is the number of pixels the body processes side by side, and
// name_for(path), which returns the variant for a path other than the
// reference (a path this build lacks falls back to the portable variant).
#define IMGFILTER_VARIANTS(name, params, args, lanes_portable, lanes_avx2, lanes_avx512) \
    void name##_portable params { name##_body<lanes_portable> args; }                     \
    IMGFILTER_X86_VARIANT_DEFS(name, params, args, lanes_avx2, lanes_avx512)              \
    decltype(&name##_portable) name##_for(code_path path) {                               \
        switch (path) {                                                                   \
            IMGFILTER_X86_VARIANT_CASES(name)                                             \
            default:                                                                      \
                return name##_portable;                                                   \
        }                                                                                 \
    }


#endif
