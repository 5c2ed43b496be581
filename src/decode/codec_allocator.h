/* The one allocator of the compiled-in decoder: every block that stb_image
 * obtains comes from here (its STBI_ allocation macros, stb_implementation.c).
 *
 * Every block starts zeroed and every grown part of a block is zeroed, so no
 * byte that the decoder did not write itself (a previous call's image, another
 * user's picture) can reach an output, whatever a crafted file makes the
 * decoder skip.
 *
 * The blocks are plain C-heap blocks: the decoded image leaves the decoder as
 * the pipeline's pixel block, which the workers free with free(). stb_image
 * passes a block's old size on every realloc (STBI_REALLOC_SIZED), which is all
 * that zeroing a grown part needs. While a decode runs, a budget fixed from the
 * file's header bounds what the decoder may obtain (codec_allocator.cpp).
 *
 * C linkage: the decoder's unit is C. Hidden like everything in the library. */
#ifndef IMGFILTER_DECODE_CODEC_ALLOCATOR_H
#define IMGFILTER_DECODE_CODEC_ALLOCATOR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What one decode may obtain in all, from the header's width and height (0 when
 * the header cannot be read), whether the file is a JPEG, and its length. */
unsigned long long imgfilter_decode_budget(int jpeg, long long width, long long height, long long file_length);

/* The decode under way on this thread; the budget lives in the decode call's
 * own frame and is pointed to only while that call runs. */
struct imgfilter_decode_scope {
    unsigned long long budget;
    unsigned long long obtained;
    struct imgfilter_decode_scope* outer;
};
void imgfilter_decode_enter(struct imgfilter_decode_scope* scope, unsigned long long budget);
void imgfilter_decode_leave(struct imgfilter_decode_scope* scope);

void* imgfilter_decoder_malloc(size_t size);
void* imgfilter_decoder_realloc(void* block, size_t old_size, size_t new_size);
void imgfilter_decoder_free(void* block);

#ifdef __cplusplus
}
#endif

#endif
