#include "encode/encoder_bounds.h"

#include <climits>

namespace {

// The library's PNG compressor (png_deflate.h) writes stb_image_write's bytes,
// and it is given the images that stb's own compressor can take, so that every
// PNG is the one the system's stb writes, or none. stb's compressor gathers its
// output in a buffer whose capacity grows 2, 5, 11, ... 3 x 2^k - 1 in int; the
// step after 1,610,612,735 overflows, so it never holds more than 1,610,612,734
// bytes. Its worst case is a literal of 9 bits for every byte (a match costs at
// most 25 bits for 3 bytes), after 2 header bytes and 3 block bits, ending with
// a 7-bit end code: 2 + ceil((9 D + 10) / 8) bytes for D bytes of filtered
// data. When that is larger than the stored form, it rewrites the buffer as
// stored blocks, sized by D + 2 + 5 ceil(D / 32767) in int; within this bound
// that sum cannot overflow either (beyond about 2,147,156,000 it would, and the
// stored copy would run past the buffer).
constexpr long long k_png_compressor_capacity = 1610612734;

long long png_worst_compressed(long long filtered) { return 2 + (9 * filtered + 10 + 7) / 8; }

}  // namespace

// The encoders do their size arithmetic in int; each bound below is the
// largest image for which none of it overflows, whatever the pixels:
//   JPEG: dimensions in 16-bit fields, and the offset of the last pixel,
//         (width x height - 1) x 4, in int, as stb_image_write computed it;
//         our own encoder keeps the limits of the writer it replaced.
//   PNG:  the filtered data, (width x 4 + 1) x height bytes, within what the
//         compressor can hold in its worst case (above), at most 1,431,655,760
//         (that worst case is the same at every compression level).
//   BMP:  the file size, 14 + 108 + width x height x 4, in int.
bool encodable(image_format format, long long width, long long height) {
    if (width <= 0 || height <= 0) return false;  // no format has a valid empty image
    // Each side in int, so the products below fit in 62 bits before any check.
    if (width > INT_MAX || height > INT_MAX) return false;
    switch (format) {
        case image_format::jpeg: return width <= 65535 && height <= 65535 && (width * height - 1) * 4 <= INT_MAX;
        case image_format::png: {
            if (width * 4 + 1 > INT_MAX) return false;
            const long long filtered = (width * 4 + 1) * height;
            return filtered <= INT_MAX && png_worst_compressed(filtered) <= k_png_compressor_capacity;
        }
        case image_format::bmp: return width * height <= INT_MAX && width * height * 4 + 14 + 108 <= INT_MAX;
        case image_format::unsupported: break;
    }
    return false;
}
