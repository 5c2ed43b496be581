// The decoded image and what the pipeline, the decoder, the vector kit and the
// filters share: the worker type, edge clamping and the brightness that the
// vector kit computes for several filters. The filters' own rules (the
// kernel's record, clamp_byte) are in filters/filter.h.
#ifndef IMGFILTER_COMMON_IMAGE_H
#define IMGFILTER_COMMON_IMAGE_H

#include <cstdint>
#include <cstdlib>

#include "common/heap.h"

// The decoded image: RGBA, 4 bytes a pixel, rows top to bottom, stride width*4.
// width and height are as the decoder reported them and may be 0. pixels is a
// C-heap block owned by the pipeline; a worker may replace it (freeing the old).
struct filter_image {
    int32_t width;
    int32_t height;
    unsigned char* pixels;
};

// A worker: 1 with the message emptied, or 0 with the message set and the
// image exactly as it came in.
typedef int (*filter_fn)(filter_image* image, const void* params);

// Edge clamping: a neighbour outside the image reads the nearest pixel inside.
inline int clamp_coord(int coord, int size) {
    return coord < 0 ? 0 : (coord >= size ? size - 1 : coord);
}

// BT.601 brightness. The order of the additions is part of the result: red and
// green products first, then blue, each product rounded to single precision.
inline float luma(unsigned char r, unsigned char g, unsigned char b) {
    const float red_green = 0.299f * static_cast<float>(r) + 0.587f * static_cast<float>(g);
    return red_green + 0.114f * static_cast<float>(b);
}

// The brightness truncated toward zero, 0..255 (the sum never goes negative and
// never reaches 256).
inline int luma_int(const unsigned char* pixel) {
    return static_cast<int>(luma(pixel[0], pixel[1], pixel[2]));
}

// A pixel buffer for the image's size, the size formed in 64 bits.
inline heap_ptr<unsigned char> alloc_pixels(const filter_image& image) {
    const unsigned long long w = image.width > 0 ? static_cast<unsigned long long>(image.width) : 0;
    const unsigned long long h = image.height > 0 ? static_cast<unsigned long long>(image.height) : 0;
    return heap_alloc<unsigned char>(w * h * 4);
}

// Frees whatever block the image holds when the call ends, also one that a
// worker put there in place of the one it was given.
struct image_owner {
    filter_image image{};
    ~image_owner() { std::free(image.pixels); }
};

// Hands a fully computed buffer to the image and frees the one it replaces.
inline void replace_pixels(filter_image* image, heap_ptr<unsigned char> pixels) {
    std::free(image->pixels);
    image->pixels = pixels.release();
}

#endif
