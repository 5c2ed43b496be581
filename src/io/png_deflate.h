/* The PNG encoder's zlib compressor: stb_image_write's own algorithm (a hash of
 * three bytes, short bucket lists, one step of lazy matching, the fixed Huffman
 * codes, stored blocks when that is smaller), reimplemented to give the very
 * same bytes for every input, several times faster; the PNG writer
 * (png_writer.h) compresses its filtered rows with it.
 *
 * The result is a block of the C heap; empty when memory runs out or length is
 * negative. Quality below 5 counts as 5, as in stb_image_write; the working table holds 16384 x 2 x quality positions (1 MiB at the writer's
 * 8), fewer for data shorter than that.
 */
#ifndef IMGFILTER_IO_PNG_DEFLATE_H
#define IMGFILTER_IO_PNG_DEFLATE_H

#include "common/heap.h"

// The zlib stream of length bytes of data; *compressed_length receives its length.
heap_ptr<unsigned char> png_deflate(const unsigned char* data, int length, int quality, int* compressed_length);

#endif
