#include "filter_calls.h"

#include "imgfilter.h"

namespace {

const float k_sharpen_weights[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};

}  // namespace

const std::vector<filter_call>& every_filter() {
    static const std::vector<filter_call> calls = {
        {"vignette", [](const char* in, const char* out) { return imgfilter_vignette(in, out, 0.7f); }},
        {"blur", [](const char* in, const char* out) { return imgfilter_blur(in, out, 1.5f); }},
        {"sharpen", [](const char* in, const char* out) { return imgfilter_sharpen(in, out, 1.0f); }},
        {"kernel", [](const char* in, const char* out) { return imgfilter_kernel(in, out, k_sharpen_weights, 3); }},
        {"emboss", [](const char* in, const char* out) { return imgfilter_emboss(in, out); }},
        {"edge_detect", [](const char* in, const char* out) { return imgfilter_edge_detect(in, out); }},
        {"denoise", [](const char* in, const char* out) { return imgfilter_denoise(in, out, 3); }},
        {"pixelate", [](const char* in, const char* out) { return imgfilter_pixelate(in, out, 2); }},
        {"oil_paint", [](const char* in, const char* out) { return imgfilter_oil_paint(in, out, 2); }},
    };
    return calls;
}
