// The nine filters, in the order of the public header, as one list that
// everything naming them expands: the exported functions' table, the tests,
// the benchmark and the command-line tool. X(name, kind): name is the filter's
// name in messages and the suffix of its exported function and its worker;
// kind is the parameter the exported function takes after the two paths.
// This header includes nothing, so code outside the library can use it too.
#ifndef IMGFILTER_FILTER_LIST_H
#define IMGFILTER_FILTER_LIST_H

#define IMGFILTER_FILTERS(X) \
    X(vignette, real)        \
    X(blur, real)            \
    X(sharpen, real)         \
    X(kernel, weights)       \
    X(emboss, none)          \
    X(edge_detect, none)     \
    X(denoise, integer)      \
    X(pixelate, integer)     \
    X(oil_paint, integer)

// What the parameter record holds: nothing (the pointer is NULL), one float,
// one int, or kernel_params.
enum class param_kind { none, real, integer, weights };

#endif
