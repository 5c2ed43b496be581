// The PNG encoder's zlib compressor: stb_image_write's own algorithm (a hash of
// three bytes, short bucket lists, one step of lazy matching, the fixed Huffman
// codes, stored blocks when that is smaller), reimplemented to give the very
// same bytes for every input, several times faster; the PNG writer
// (png_writer.h) compresses its filtered rows with it.
//
// The data comes from a source in order, so that it never has to be held
// whole: the compressor keeps the 32 KiB it may still refer to and a megabyte
// ahead. Its output block is sized for the stored form, since the compressed
// form is abandoned the moment it grows longer. Quality below 5 counts as 5,
// as in stb_image_write; the working table holds 16384 x 2 x quality positions
// (1 MiB at the writer's 8), fewer for data shorter than that.
#ifndef IMGFILTER_ENCODE_PNG_DEFLATE_H
#define IMGFILTER_ENCODE_PNG_DEFLATE_H

#include <cstddef>

#include "common/heap.h"

// The bytes to compress, handed over in order.
class deflate_source {
public:
    // Copies the next count bytes of the data to `to`.
    virtual void read(unsigned char* to, std::size_t count) = 0;
    // Starts again from the first byte (for the stored form).
    virtual void rewind() = 0;

protected:
    ~deflate_source() = default;
};

// The zlib stream of length bytes from source, in a block of the C heap, and
// its length in *compressed_length. Empty when memory runs out or length is
// negative.
heap_ptr<unsigned char> png_deflate(deflate_source& source, int length, int quality, int* compressed_length);

// The same for data held in memory.
heap_ptr<unsigned char> png_deflate(const unsigned char* data, int length, int quality, int* compressed_length);

#endif
