// The private module's C entry points, which the Python package alone calls
// (python/imgfilter/_native.py mirrors these records with ctypes).
#ifndef IMGFILTER_PYTHON_NATIVE_FILTER_H
#define IMGFILTER_PYTHON_NATIVE_FILTER_H

#include <cstddef>

#if defined(_WIN32)
#  define IMGFILTER_NATIVE_API __declspec(dllexport)
#else
#  define IMGFILTER_NATIVE_API __attribute__((visibility("default")))
#endif

extern "C" {

// The caller's pixels: element (y, x, c) at data + y * row_stride + x *
// column_stride + c * channel_stride, strides in bytes and of any sign.
// what names the object in messages, e.g. "array of shape (2, 3, 4)".
struct imgfilter_native_pixels {
    const unsigned char* data;
    long long height;
    long long width;
    long long row_stride;
    long long column_stride;
    long long channel_stride;
    int channels;  // 3 or 4
    const char* what;
};

// The filter's parameter, in the field of its kind (filter_list.h).
struct imgfilter_native_params {
    float real;
    int integer;
    const float* weights;
    int size;
};

// The name of filter number filter in the library's table, NULL past its end.
IMGFILTER_NATIVE_API const char* imgfilter_native_filter_name(int filter);

// 1 when an image of this size is one the filter takes, else 0 with the
// message in error (as for a file of that size: the decoder's limits).
IMGFILTER_NATIVE_API int imgfilter_native_check_size(int filter, const char* what, long long width,
                                                     long long height, char* error, std::size_t error_size);

// Runs the filter's worker on the pixels; the input is only read. Without an
// output path the result goes to out, packed, with the input's channels;
// with one, it is written there as the library writes files. 1 on success,
// else 0 with the message, as the library words it, in error.
IMGFILTER_NATIVE_API int imgfilter_native_filter(int filter, const imgfilter_native_pixels* in,
                                                 const imgfilter_native_params* params, unsigned char* out,
                                                 const char* output_path, char* error, std::size_t error_size);

}  // extern "C"

#endif
