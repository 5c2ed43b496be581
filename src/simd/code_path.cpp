// Which compiled variants of the fast paths this processor can run. The answer
// is asked of the processor on every call (a few instructions) rather than
// kept, so the library holds no state beyond its error message.
#include "simd/code_path.h"

bool code_path_available(code_path path) {
#if IMGFILTER_X86_VARIANTS
    __builtin_cpu_init();
#endif
    switch (path) {
        case code_path::reference:
        case code_path::portable:
            return true;
#if IMGFILTER_X86_VARIANTS
        case code_path::avx2:
            return __builtin_cpu_supports("avx2");
        case code_path::avx512:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512dq");
#endif
        default:
            return false;
    }
}

code_path fastest_code_path() {
    if (code_path_available(code_path::avx512)) return code_path::avx512;
    if (code_path_available(code_path::avx2)) return code_path::avx2;
    return code_path::portable;
}
