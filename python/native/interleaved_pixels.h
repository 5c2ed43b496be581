// Pixels in the caller's layout (3 or 4 channels of bytes at any strides, as
// a numpy array or a PIL image's bytes lay them out) to and from the filters'
// RGBA rows.
#ifndef IMGFILTER_PYTHON_INTERLEAVED_PIXELS_H
#define IMGFILTER_PYTHON_INTERLEAVED_PIXELS_H

#include <cstddef>

// The caller's pixels: element (y, x, c) is at data + y * row + x * column + c * channel.
struct strided_pixels {
    const unsigned char* data;
    std::ptrdiff_t row;
    std::ptrdiff_t column;
    std::ptrdiff_t channel;
    int channels;  // 3 (alpha 255 on the way in, dropped on the way out) or 4
};

// Writes width * height RGBA pixels, rows top to bottom, into rgba.
void widen_to_rgba(const strided_pixels& in, int width, int height, unsigned char* rgba);

// Writes the RGBA pixels into out, packed: channels bytes a pixel, rows top to bottom.
void narrow_from_rgba(const unsigned char* rgba, int width, int height, int channels, unsigned char* out);

#endif
