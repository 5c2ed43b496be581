/* Compiles the system's stb_image into the library with its default settings
 * (no flip, the default dimension limit). The library is built with hidden
 * visibility, so none of these functions is exported and all of the decoder's
 * settings and state are the library's own: a host that links a libstb of its
 * own and changes its settings changes nothing here. (The encoders are the
 * library's own: encode/jpeg_encoder.h, encode/png_writer.h, encode/bmp_writer.h.)
 *
 * Every block comes from the library's codec allocator (codec_allocator.h):
 * zeroed, and bounded per decode by a budget taken from the file's header. */
#include "decode/codec_allocator.h"

#define STBI_MALLOC(size) imgfilter_decoder_malloc(size)
#define STBI_REALLOC_SIZED(block, old_size, new_size) imgfilter_decoder_realloc(block, old_size, new_size)
#define STBI_FREE(block) imgfilter_decoder_free(block)

/* The decoder's own entry point is compiled under another name, and the public
 * name runs it within a budget (below). */
#define stbi_load_from_memory imgfilter_unbounded_load_from_memory
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"
#undef stbi_load_from_memory

STBIDEF stbi_uc* stbi_load_from_memory(stbi_uc const* buffer, int len, int* x, int* y, int* comp, int req_comp) {
    struct imgfilter_decode_scope scope;
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels;
    /* The decoder reads the same header before it allocates anything; when it
     * cannot be read here, the decode fails on it too, with its own reason. */
    if (!stbi_info_from_memory(buffer, len, &width, &height, &channels)) width = height = 0;
    imgfilter_decode_enter(&scope, imgfilter_decode_budget(len > 0 && buffer[0] == 0xFF, width, height, len));
    pixels = imgfilter_unbounded_load_from_memory(buffer, len, x, y, comp, req_comp);
    imgfilter_decode_leave(&scope);
    return pixels;
}
