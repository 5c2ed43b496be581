#include "commands.h"

#include "imgfilter.h"

namespace {

// What the tool says of a filter; its kind of parameter and its library call
// come from the library's list.
struct filter_text {
    const char* name;
    const char* summary;
    const char* flag;
    const char* range;
    const char* default_value;
    const char* details;
};

const filter_text k_vignette = {"vignette", "darken towards the corners", "--strength",
    "0 to 1 is the darkening at the corners (1 = black); above 1 up to 100 a percentage; above 100 acts as 100; "
    "negative fails",
    "0.5",
    "Multiplies each pixel's colour by 1 - r^2 * strength, r being the distance from the centre over the\n"
    "distance to a corner. Alpha is kept."};
const filter_text k_blur = {"blur", "Gaussian blur", "--radius",
    "greater than 0 (the standard deviation in pixels; the kernel reaches 2 x radius, at most 100 pixels)", "2",
    "Blurs the colours with a separable Gaussian; pixels beyond the border repeat the edge. Alpha is kept."};
const filter_text k_sharpen = {"sharpen", "sharpen with a four-neighbour Laplacian", "--amount", "0.0 to 5.0", "1",
    "Each colour becomes (1 + amount) times itself minus amount/4 times its four direct neighbours.\n"
    "0 leaves the image as it was. Alpha is kept."};
const filter_text k_kernel = {"kernel", "convolve with your own 3x3 or 5x5 grid", "--weights",
    "9 or 25 comma-separated numbers, row by row from the top left", nullptr,
    "Each colour becomes the weighted sum of the grid's neighbourhood, weights used as given (no\n"
    "normalisation), e.g. --weights 0,-1,0,-1,5,-1,0,-1,0. Alpha is kept."};
const filter_text k_emboss = {"emboss", "grey relief", nullptr, nullptr, nullptr,
    "Mid-grey where the picture is flat, lighter where it brightens towards the lower right, darker\n"
    "where it darkens. Alpha is kept."};
const filter_text k_edge_detect = {"edge-detect", "Sobel edges as grey levels", nullptr, nullptr, nullptr,
    "Black where the brightness is flat, bright along edges (the Sobel gradient magnitude, capped at\n"
    "255). Alpha is kept."};
const filter_text k_denoise = {"denoise", "edge-preserving smoothing (bilateral)", "--strength", "1 to 10", "3",
    "Averages each pixel with neighbours of similar brightness, so noise fades while edges stay.\n"
    "Strengths 1-4 use a 5x5 window, 5-10 a 7x7 window. Alpha is kept."};
const filter_text k_pixelate = {"pixelate", "paint square blocks with their mean colour", "--block-size",
    "1 or more pixels (1 leaves the image as it was)", "8",
    "Blocks are laid from the top left; those at the right and bottom edges are cut off. Alpha is\n"
    "averaged too."};
const filter_text k_oil_paint = {"oil-paint", "oil-paint look", "--radius", "1 or more (above 30 acts as 30)", "4",
    "Paints each pixel with the mean colour of the most common of 20 brightness levels in a disc of\n"
    "the given radius around it. Alpha is kept."};

// The library call for each kind of parameter.
template <int (*call)(const char*, const char*)>
int run_none(const char* in, const char* out, const param_value&) {
    return call(in, out);
}
template <int (*call)(const char*, const char*, float)>
int run_real(const char* in, const char* out, const param_value& v) {
    return call(in, out, v.real);
}
template <int (*call)(const char*, const char*, int)>
int run_integer(const char* in, const char* out, const param_value& v) {
    return call(in, out, v.integer);
}
template <int (*call)(const char*, const char*, const float*, int)>
int run_weights(const char* in, const char* out, const param_value& v) {
    return call(in, out, v.weights, v.weight_count == 25 ? 5 : 3);
}

}  // namespace

const filter_command k_commands[] = {
#define IMGFILTER_COMMAND(filter, kind)                                                                   \
    {k_##filter.name,          k_##filter.summary, param_kind::kind, k_##filter.flag, k_##filter.range, \
     k_##filter.default_value, k_##filter.details, run_##kind<imgfilter_##filter>},
    IMGFILTER_FILTERS(IMGFILTER_COMMAND)
#undef IMGFILTER_COMMAND
};

const std::size_t k_command_count = sizeof k_commands / sizeof k_commands[0];
