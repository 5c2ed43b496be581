/* Compiles the system's stb_image_write into the library with its default
 * settings, beside stb_image (stb_implementation.c); hidden like everything in
 * the library.
 *
 * Every block comes from the library's codec allocator (codec_allocator.h).
 * The PNG encoder is the only one that allocates, and it cannot survive a
 * failed allocation: its assertion would end the host process, and without
 * assertions it writes through the block it failed to grow. Here the assertion
 * abandons the encoding instead, and the PNG entry points run the encoder
 * within a scope that frees whatever it held and reports failure.
 *
 * The PNG encoder's compressor is the library's own (png_deflate.h): the same
 * bytes as stb's, in a fraction of the time, and it reports a failed
 * allocation by returning NULL, on which the encoder fails cleanly. */
#include <setjmp.h>

#include "io/codec_allocator.h"
#include "io/png_deflate.h"

#define STBIW_MALLOC(size) imgfilter_encoder_malloc(size)
#define STBIW_REALLOC(block, new_size) imgfilter_encoder_realloc(block, new_size)
#define STBIW_FREE(block) imgfilter_encoder_free(block)
#define STBIW_ASSERT(condition) imgfilter_encoder_assert((condition) != 0)
#define STBIW_ZLIB_COMPRESS(data, data_len, out_len, quality) imgfilter_png_deflate(data, data_len, out_len, quality)

#define stbi_write_png imgfilter_unscoped_write_png
#define stbi_write_png_to_func imgfilter_unscoped_write_png_to_func
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
#undef stbi_write_png
#undef stbi_write_png_to_func

/* result is volatile: it is read after a longjmp back into this frame. */
STBIWDEF int stbi_write_png_to_func(stbi_write_func* func, void* context, int x, int y, int comp, const void* data,
                                    int stride_bytes) {
    struct imgfilter_encode_scope scope;
    volatile int result = 0;
    imgfilter_encode_enter(&scope);
    if (setjmp(scope.abandoned) == 0)
        result = imgfilter_unscoped_write_png_to_func(func, context, x, y, comp, data, stride_bytes);
    imgfilter_encode_leave(&scope);
    return result;
}

STBIWDEF int stbi_write_png(char const* filename, int x, int y, int comp, const void* data, int stride_bytes) {
    struct imgfilter_encode_scope scope;
    volatile int result = 0;
    imgfilter_encode_enter(&scope);
    if (setjmp(scope.abandoned) == 0) result = imgfilter_unscoped_write_png(filename, x, y, comp, data, stride_bytes);
    imgfilter_encode_leave(&scope);
    return result;
}
