/* The PNG encoder's zlib compressor: stb_image_write's own algorithm (a hash of
 * three bytes, short bucket lists, one step of lazy matching, the fixed Huffman
 * codes, stored blocks when that is smaller), reimplemented to give the very
 * same bytes for every input, several times faster. stb_image_write calls it
 * through its STBIW_ZLIB_COMPRESS hook (stb_write_implementation.c), with the
 * signature of its stbi_zlib_compress.
 *
 * The result is a block of the encoder allocator (codec_allocator.h), which the
 * PNG writer frees with imgfilter_encoder_free; NULL when memory runs out or
 * data_len is negative. Quality below 5 counts as 5, as in stb_image_write;
 * the working table holds 16384 x 2 x quality positions (1 MiB at the writer's
 * 8), fewer for data shorter than that.
 *
 * C linkage: the encoder's unit is C. Hidden like everything in the library. */
#ifndef IMGFILTER_IO_PNG_DEFLATE_H
#define IMGFILTER_IO_PNG_DEFLATE_H

#ifdef __cplusplus
extern "C" {
#endif

unsigned char* imgfilter_png_deflate(const unsigned char* data, int data_len, int* out_len, int quality);

#ifdef __cplusplus
}
#endif

#endif
