#include "filter_calls.h"

#include <sstream>

#include "imgfilter.h"

const void* param::record(param_kind kind) const {
    switch (kind) {
        case param_kind::real: return &real;
        case param_kind::integer: return &integer;
        case param_kind::weights: return &grid;
        default: return nullptr;
    }
}

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

// The exported functions take the record's contents as their own arguments.
#define IMGFILTER_ARGS_none(params)
#define IMGFILTER_ARGS_real(params) , *static_cast<const float*>(params)
#define IMGFILTER_ARGS_integer(params) , *static_cast<const int*>(params)
#define IMGFILTER_ARGS_weights(params) \
    , static_cast<const kernel_params*>(params)->weights, static_cast<const kernel_params*>(params)->size

int call_exported(filter_id id, const char* input_path, const char* output_path, const void* params) {
    switch (id) {
#define IMGFILTER_CALL(name, kind) \
    case filter_id::name:          \
        return imgfilter_##name(input_path, output_path IMGFILTER_ARGS_##kind(params));
        IMGFILTER_FILTERS(IMGFILTER_CALL)
#undef IMGFILTER_CALL
    }
    return 0;
}

namespace {

const float k_sharpen_weights[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};

// Parameters that change most pictures and keep the calls quick.
const struct {
    filter_id id;
    param value;
} k_ordinary[] = {
    {filter_id::vignette, 0.7f}, {filter_id::blur, 1.5f},   {filter_id::sharpen, 1.0f},
    {filter_id::kernel, {k_sharpen_weights, 3}},            {filter_id::emboss, {}},
    {filter_id::edge_detect, {}}, {filter_id::denoise, 3},  {filter_id::pixelate, 2},
    {filter_id::oil_paint, 2},
};

template <filter_id id>
int run_ordinary(const char* input_path, const char* output_path) {
    for (const auto& ordinary : k_ordinary)
        if (ordinary.id == id)
            return call_exported(id, input_path, output_path, ordinary.value.record(filter_of(id).kind));
    return -1;  // no ordinary parameter: neither success nor failure
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
