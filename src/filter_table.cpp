#include "filter_table.h"

#include "filters/filter.h"

namespace {

// Every filter runs the fastest variant the processor has, but for these.
constexpr code_path widest_variant(filter_id id) {
    switch (id) {
        // Oil paint's AVX-512 variant measured slower than its AVX2 one (12
        // MP, radius 3: about 590 against 510 ms; radius 10: 1000 against
        // 960 ms): the sliding histogram's updates, which no vector width
        // shortens, take most of the time, and the wider variant only adds to
        // the rest. It stays compiled, and the fast-path test still runs it.
        case filter_id::oil_paint:
            return code_path::avx2;
        default:
            return code_path::avx512;
    }
}

}  // namespace

const filter_entry k_filters[k_filter_count] = {
#define IMGFILTER_FILTER_ENTRY(name, kind) \
    {filter_id::name, #name, param_kind::kind, widest_variant(filter_id::name), thunk_##name, thunk_##name##_with},
    IMGFILTER_FILTERS(IMGFILTER_FILTER_ENTRY)
#undef IMGFILTER_FILTER_ENTRY
};

code_path code_path_of(const filter_entry& filter) {
    const code_path fastest = fastest_code_path();
    return fastest > filter.widest ? filter.widest : fastest;
}

#define IMGFILTER_THUNK(name, kind)                                                      \
    int thunk_##name(filter_image* image, const void* params) {                          \
        return thunk_##name##_with(image, params, code_path_of(filter_of(filter_id::name))); \
    }
IMGFILTER_FILTERS(IMGFILTER_THUNK)
#undef IMGFILTER_THUNK

int apply_denoise(filter_image* image, int strength) {
    return apply_denoise_with(image, strength, code_path_of(filter_of(filter_id::denoise)));
}

int apply_oil_paint(filter_image* image, int radius) {
    return apply_oil_paint_with(image, radius, code_path_of(filter_of(filter_id::oil_paint)));
}
