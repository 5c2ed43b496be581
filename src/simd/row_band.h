// A band of image rows for fast paths that write their output back into the
// image: the rows around the current one are converted into planes of numbers
// before the image rows are overwritten, and a ring keeps only as many as the
// filter's window spans. Each plane row is widened on both sides by copies of
// its edge values, so windows never need clamping along a row, and by enough
// further copies on the right that whole vectors can be read past the end.
#ifndef IMGFILTER_SIMD_ROW_BAND_H
#define IMGFILTER_SIMD_ROW_BAND_H

#include <cstddef>

#include "common/image.h"
#include "simd/vectors.h"

// What fixes a band's layout besides the image's size: the window's reach
// beyond a pixel, the values of a pixel, and the rows and planes held.
struct band_shape {
    int radius, group, slots, planes;
};

// Rows of width pixels of group values each (1 for a plane of one channel, 4
// for interleaved RGBA), widened by radius pixels on each side.
template <typename T>
struct row_band {
    int width, height, radius, group, slots, planes;
    std::size_t padded;  // values per plane row
    heap_ptr<T> data;

    // A band of slots rows of planes planes; check ok() for the allocation.
    row_band(int width_, int height_, int radius_, int group_, int slots_, int planes_)
        : width(width_ > 0 ? width_ : 0),
          height(height_),
          radius(radius_),
          group(group_),
          slots(slots_),
          planes(planes_),
          padded(static_cast<std::size_t>(width + 2 * radius_) * group_ + k_row_tail),
          data(heap_alloc<T>(static_cast<unsigned long long>(slots_) * planes_ * padded)) {}

    bool ok() const { return data != nullptr; }

    // Plane p of image row y (which must be in the ring), at pixel 0.
    T* row(int y, int p) const {
        return data.get() + (static_cast<std::size_t>(y % slots) * planes + p) * padded +
               static_cast<std::size_t>(radius) * group;
    }

    // The plane row of clamp(y) for a window row that may lie outside the image.
    const T* clamped(int y, int p) const { return row(clamp_coord(y, height), p); }

    // Copies the edge pixels of row y's planes outward, once they are filled.
    // Each value of an edge pixel is read once and stored in every copy: a
    // copy of the copy before it would chain each store to the previous one,
    // which costs as much as a tenth of a fast filter's time.
    void widen(int y) const {
        const int left = radius * group;
        const int right = static_cast<int>(padded) - left;
        const int last = (width - 1) * group;
        for (int p = 0; p < planes; ++p) {
            T* v = row(y, p);
            for (int j = 0; j < group; ++j) {
                const T first_value = v[j];
                const T last_value = v[last + j];
                for (int i = j - group; i >= -left; i -= group) v[i] = first_value;
                for (int i = last + group + j; i < right; i += group) v[i] = last_value;
            }
        }
    }
};

// Runs a window filter in place: row y of the output needs image rows
// y - radius .. y + radius, so image row y + radius goes into the band just before
// output row y overwrites image row y, and every image row is read before it
// is written. load(y, image_row) fills the band's planes of row y;
// paint(y, image_row) writes output row y over image row y.
//
// The fast paths call it from inside their compiled variants, with lambdas
// marked IMGFILTER_LAMBDA_INLINE, so all of it is compiled for the variant's
// instruction set.
template <typename T, typename Load, typename Paint>
IMGFILTER_ALWAYS_INLINE void filter_rows_in_place(unsigned char* pixels, const row_band<T>& band, Load load, Paint paint) {
    const std::size_t stride = static_cast<std::size_t>(band.width) * 4;
    for (int y = 0; y < band.height && y < band.radius; ++y) {
        load(y, pixels + y * stride);
        band.widen(y);
    }
    for (int y = 0; y < band.height; ++y) {
        const int ahead = y + band.radius;
        if (ahead < band.height) {
            load(ahead, pixels + ahead * stride);
            band.widen(ahead);
        }
        paint(y, pixels + y * stride);
    }
}

#if defined(__GNUC__)
#  define IMGFILTER_LAMBDA_INLINE __attribute__((always_inline))
#else
#  define IMGFILTER_LAMBDA_INLINE
#endif

// Byte to int and back, a row at a time: plain loops that the compiler turns
// into the variant's widening and narrowing instructions.
IMGFILTER_ALWAYS_INLINE void widen_bytes(int* out, const unsigned char* in, int count) {
    for (int i = 0; i < count; ++i) out[i] = in[i];
}
IMGFILTER_ALWAYS_INLINE void narrow_to_bytes(unsigned char* out, const int* in, int count) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(in[i]);
}

#endif
