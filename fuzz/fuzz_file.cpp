// The fuzzer's bytes are the input file. Every filter runs on it, with cheap
// parameters, through the exported entry points, the real pipeline, and every
// call must keep the contract.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decode/decode_guards.h"
#include "exported_calls.h"
#include "fuzz_support.h"
#include "stb_image.h"

namespace {

const float k_edge_weights[9] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};

// Cheap parameters that every filter accepts.
constexpr struct {
    filter_id id;
    filter_param value;
} k_cheap[] = {
    {filter_id::vignette, 0.8f}, {filter_id::blur, 1.0f},   {filter_id::sharpen, 2.0f},
    {filter_id::kernel, {k_edge_weights, 3}},               {filter_id::emboss, {}},
    {filter_id::edge_detect, {}}, {filter_id::denoise, 1},  {filter_id::pixelate, 3},
    {filter_id::oil_paint, 1},
};
static_assert(has_row_for_every_filter(k_cheap), "every filter needs its cheap parameter");

// A decoded image this large would only make every filter slow; the fuzzer
// learns nothing more from it than from a small one. The decoder's header
// query decides; files it cannot measure run anyway.
constexpr long long k_max_pixels = 1 << 15;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The header query is the decoder's too: like the pipeline, ask it only
    // about files the guards let through.
    const bool refused = size > 0 && decode_refusal(data, int(size)) != nullptr;
    int width = -1, height = -1, channels = 0;
    if (size > 0 && !refused && stbi_info_from_memory(data, int(size), &width, &height, &channels)) {
        // A top-down BMP reports a negative height here.
        width = std::abs(width);
        height = std::abs(height);
        if (static_cast<long long>(width) * height > k_max_pixels) return 0;
    } else {
        width = height = -1;  // unknown: a success is then checked for a decodable output only
    }

    const std::string input = scratch_path("input");
    write_file(input, data, size);
    // The output format follows the size, so every encoder meets every decoder.
    static const char* const k_outputs[] = {"out.png", "out.jpg", "out.bmp", "out"};
    const std::string output = scratch_path(k_outputs[size % 4]);
    const char* in = input.c_str();
    const char* out = output.c_str();

    for (const auto& cheap : k_cheap) {
        const filter_entry& filter = filter_of(cheap.id);
        check_contract(filter.name, call_exported(cheap.id, in, out, cheap.value.record(filter.kind)), output, width,
                       height);
    }
    return 0;
}
