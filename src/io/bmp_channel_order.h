// A BMP stores each pixel blue, green, red (then alpha); the image holds red,
// green, blue, alpha. Converting either way swaps the outer colour bytes.
#ifndef IMGFILTER_IO_BMP_CHANNEL_ORDER_H
#define IMGFILTER_IO_BMP_CHANNEL_ORDER_H

#include <cstdint>

// A pixel's four bytes as one value, first byte lowest, on any byte order.
inline uint32_t load_pixel(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void store_pixel(unsigned char* p, uint32_t pixel) {
    p[0] = static_cast<unsigned char>(pixel);
    p[1] = static_cast<unsigned char>(pixel >> 8);
    p[2] = static_cast<unsigned char>(pixel >> 16);
    p[3] = static_cast<unsigned char>(pixel >> 24);
}

inline uint32_t swap_red_blue(uint32_t pixel) {
    return (pixel & 0xFF00FF00u) | (pixel >> 16 & 0xFFu) | (pixel & 0xFFu) << 16;
}

#endif
