#include "commands.h"

#include "imgfilter.h"

const filter_command k_commands[] = {
    {"vignette", "darken towards the corners", param_kind::real, "--strength",
     "0 to 1 is the darkening at the corners (1 = black); above 1 up to 100 a percentage; above 100 acts as 100; "
     "negative fails",
     "0.5",
     "Multiplies each pixel's colour by 1 - r^2 * strength, r being the distance from the centre over the\n"
     "distance to a corner. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_vignette(in, out, v.real); }},
    {"blur", "Gaussian blur", param_kind::real, "--radius",
     "greater than 0 (the standard deviation in pixels; the kernel reaches 2 x radius, at most 100 pixels)", "2",
     "Blurs the colours with a separable Gaussian; pixels beyond the border repeat the edge. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_blur(in, out, v.real); }},
    {"sharpen", "sharpen with a four-neighbour Laplacian", param_kind::real, "--amount", "0.0 to 5.0", "1",
     "Each colour becomes (1 + amount) times itself minus amount/4 times its four direct neighbours.\n"
     "0 leaves the image as it was. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_sharpen(in, out, v.real); }},
    {"kernel", "convolve with your own 3x3 or 5x5 grid", param_kind::weights, "--weights",
     "9 or 25 comma-separated numbers, row by row from the top left", nullptr,
     "Each colour becomes the weighted sum of the grid's neighbourhood, weights used as given (no\n"
     "normalisation), e.g. --weights 0,-1,0,-1,5,-1,0,-1,0. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) {
         return imgfilter_kernel(in, out, v.weights, v.weight_count == 25 ? 5 : 3);
     }},
    {"emboss", "grey relief", param_kind::none, nullptr, nullptr, nullptr,
     "Mid-grey where the picture is flat, lighter where it brightens towards the lower right, darker\n"
     "where it darkens. Alpha is kept.",
     [](const char* in, const char* out, const param_value&) { return imgfilter_emboss(in, out); }},
    {"edge-detect", "Sobel edges as grey levels", param_kind::none, nullptr, nullptr, nullptr,
     "Black where the brightness is flat, bright along edges (the Sobel gradient magnitude, capped at\n"
     "255). Alpha is kept.",
     [](const char* in, const char* out, const param_value&) { return imgfilter_edge_detect(in, out); }},
    {"denoise", "edge-preserving smoothing (bilateral)", param_kind::integer, "--strength", "1 to 10", "3",
     "Averages each pixel with neighbours of similar brightness, so noise fades while edges stay.\n"
     "Strengths 1-4 use a 5x5 window, 5-10 a 7x7 window. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_denoise(in, out, v.integer); }},
    {"pixelate", "paint square blocks with their mean colour", param_kind::integer, "--block-size",
     "1 or more pixels (1 leaves the image as it was)", "8",
     "Blocks are laid from the top left; those at the right and bottom edges are cut off. Alpha is\n"
     "averaged too.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_pixelate(in, out, v.integer); }},
    {"oil-paint", "oil-paint look", param_kind::integer, "--radius", "1 or more (above 30 acts as 30)", "4",
     "Paints each pixel with the mean colour of the most common of 20 brightness levels in a disc of\n"
     "the given radius around it. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_oil_paint(in, out, v.integer); }},
};

const std::size_t k_command_count = sizeof k_commands / sizeof k_commands[0];
