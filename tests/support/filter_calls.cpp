#include "filter_calls.h"

#include <sstream>

std::string param::text(param_kind kind) const {
    std::ostringstream out;
    switch (kind) {
        case param_kind::real: out << real; break;
        case param_kind::integer: out << integer; break;
        case param_kind::weights: out << (grid.weights ? "grid" : "NULL grid") << " of size " << grid.size; break;
        default: out << "no parameter"; break;
    }
    return out.str();
}

namespace {

const float k_sharpen_weights[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};

// Parameters that change most pictures and keep the calls quick.
constexpr struct {
    filter_id id;
    param value;
} k_ordinary[] = {
    {filter_id::vignette, 0.7f}, {filter_id::blur, 1.5f},   {filter_id::sharpen, 1.0f},
    {filter_id::kernel, {k_sharpen_weights, 3}},            {filter_id::emboss, {}},
    {filter_id::edge_detect, {}}, {filter_id::denoise, 3},  {filter_id::pixelate, 2},
    {filter_id::oil_paint, 2},
};
static_assert(has_row_for_every_filter(k_ordinary), "every filter needs its ordinary parameter");

template <filter_id id>
int run_ordinary(const char* input_path, const char* output_path) {
    for (const auto& ordinary : k_ordinary)
        if (ordinary.id == id)
            return call_exported(id, input_path, output_path, ordinary.value.record(filter_of(id).kind));
    return -1;  // not reached: every filter has a row
}

}  // namespace

const std::vector<filter_call>& every_filter() {
    static const std::vector<filter_call> calls = {
#define IMGFILTER_ORDINARY_CALL(name, kind) {#name, run_ordinary<filter_id::name>},
        IMGFILTER_FILTERS(IMGFILTER_ORDINARY_CALL)
#undef IMGFILTER_ORDINARY_CALL
    };
    return calls;
}
